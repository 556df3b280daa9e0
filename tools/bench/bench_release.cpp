#include "bench_release.h"

#include <windows.h>

#include <cstdint>
#include <ctime>

#include "bcrypt_trust.h"
#include "json_util.h"
#include "scoped_handle.h"

namespace bench {

namespace {

// A package's SHA-256 (hex) and size, read once.
void DigestAndSize(const std::string& path, std::string& digestText, int64_t& size) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  trust::Digest digest{};
  unsigned long error = 0;
  size = 0;
  trust::Sha256OfFile(file.Get(), digest, size, error);
  digestText = trust::DigestText(digest);
}

void AddPackage(Json::Value& entry, const std::string& path) {
  std::string digest;
  int64_t size = 0;
  DigestAndSize(path, digest, size);
  entry["sha256"] = digest;
  entry["size"] = static_cast<Json::Int64>(size);
}

}  // namespace

ReleaseTexts ReleaseFor(const std::string& base, const std::string& platformPackage,
                        const std::string& hallPackage, bool secure) {
  Json::Value data(Json::objectValue);
  if (!platformPackage.empty()) {
    data["platform"]["version"] = 3;
    data["platform"]["url"] = base + "/Tessel.pkg.exe";
  }
  data["info"]["version"] = 5;
  data["info"]["url"] = base + "/Orlune.pkg.exe";
  data["info"]["file"] = "Orlune.exe";
  data["info"]["params"] = "{\"lifetime\":500}";
  Json::Value reply(Json::objectValue);
  reply["code"] = 1;
  reply["version"] = 1;
  reply["url"] = base + "/config.json";
  if (secure) {
    if (!platformPackage.empty()) AddPackage(data["platform"], platformPackage);
    AddPackage(data["info"], hallPackage);
    data["version"] = 1;
    const std::string text = rt::StyledText(data);
    trust::Digest digest{};
    trust::Sha256Of(text, digest);
    reply["sha256"] = trust::DigestText(digest);
    reply["size"] = static_cast<Json::Int64>(text.size());
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    reply["issued"] = static_cast<Json::Int64>(now - 60);
    reply["expires"] = static_cast<Json::Int64>(now + 7 * 86400);
  }
  return ReleaseTexts{rt::StyledText(data), rt::StyledText(reply)};
}

}  // namespace bench
