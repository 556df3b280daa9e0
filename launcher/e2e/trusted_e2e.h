// What the trusted launcher's end-to-end tests share: the trusted launcher in
// a program folder, signed replies, and what a refused start must leave.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <string>

#include "bcrypt_trust.h"
#include "json_util.h"
#include "launcher_folder.h"
#include "test_support.h"
#include "tls_front_control.h"

namespace e2e {

inline std::string Fatal(const std::string& firstLine) {
  return firstLine + "\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)";
}
constexpr char kBadData[] = "CheckConfig 无效的数据!";

// A reply with `body` and, unless empty, `signature` as its header.
inline endpoint::Reply SignedReply(const std::string& body, const std::string& signature) {
  endpoint::Reply reply;
  reply.body = body;
  reply.contentType = "application/json";
  if (!signature.empty()) reply.headers.emplace_back("X-Lumora-Signature", signature);
  return reply;
}

inline std::string Sha256Text(const std::string& bytes) {
  trust::Digest digest{};
  EXPECT_TRUE(trust::Sha256Of(bytes, digest));
  return trust::DigestText(digest);
}

inline std::string FileBytes(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(testing_support::ReadFileBytes(path, bytes)) << path;
  return bytes;
}

// A validity as the publishing tool writes it: issued a minute ago, a week.
inline void StampFresh(Json::Value& reply) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  reply["issued"] = static_cast<Json::Int64>(now - 60);
  reply["expires"] = static_cast<Json::Int64>(now + 7 * 24 * 3600);
}

// Waits (up to 15 s) for the hall of union code 1 to have ended: a hall
// still running makes the next launcher give way to it.
inline bool WaitForHallToEnd() {
  const DWORD start = GetTickCount();
  while (FindWindowA("QZ_Orlune_U1", nullptr) != nullptr) {
    if (GetTickCount() - start > 15000) return false;
    Sleep(20);
  }
  return true;
}

// A launcher folder holding the trusted launcher as Lumora.exe.
class TrustedFolder : public LauncherFolder {
 public:
  TrustedFolder() { EXPECT_TRUE(Add("LumoraTrusted.exe", "Lumora.exe")); }

  // What a failed check shows: the launcher's log, then the TLS front's last
  // connections (a refused handshake or a client that hung up after it says
  // whether the certificate or the connection failed).
  std::string Seen() const {
    const std::string front = testing_support::TlsFront::Log();
    size_t from = front.size();
    for (int lines = 0; lines < 16 && from > 0; ++lines) {
      from = front.rfind('\n', from - 1);
      if (from == std::string::npos) {
        from = 0;
        break;
      }
    }
    return Log() + "\nthe TLS front's last lines:\n" + front.substr(from);
  }
};

// Nothing of a refused start may be left: no stored configuration, no
// installed component, no updater run, no hall started.
inline void ExpectNothingInstalled(const LauncherFolder& folder) {
  EXPECT_TRUE(folder.Record("CFG_ConfigData").isNull());
  EXPECT_TRUE(folder.Record("CFG_ConfigSignature").isNull());
  const Json::Value info = folder.Record("CFG_ConfigInfo");
  EXPECT_FALSE(info.isMember("version")) << JsonText(info);
  EXPECT_FALSE(info.isMember("platformversion")) << JsonText(info);
  EXPECT_FALSE(info.isMember("plazaversion")) << JsonText(info);
  EXPECT_FALSE(folder.Exists("Platform\\logo.ico"));
  EXPECT_FALSE(folder.Exists("Orlune.exe"));
  EXPECT_FALSE(folder.Exists("Log\\updater.log")) << "the updater ran";
  EXPECT_FALSE(folder.Exists("Orlune.received.json")) << "a hall was started";
}

}  // namespace e2e
