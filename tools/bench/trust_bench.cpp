// trust_bench.exe: what the trusted channel costs (run by hand through
// scripts/bench-trust.sh, which starts the loopback operator's TLS front):
//  - quick starts (nothing to update), launcher process created -> hall
//    process created, median: the plain launcher over HTTP beside the test
//    build's trusted launcher over HTTPS with signed replies and hashed
//    packages, alternating, in one run; given an earlier trusted launcher
//    (its replies signed over the bytes alone), that one too, so a change of
//    the trusted start is measured before and after in the same run;
//  - a 256 MiB package: reading it in 64 KiB pieces beside computing its
//    SHA-256 the way the launcher checks a package (both from the file cache).
//   trust_bench [quick starts of each, default 7] [earlier LumoraTrusted.exe]
#include <windows.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bcrypt_trust.h"
#include "json_util.h"
#include "bench_figures.h"
#include "loopback_endpoint.h"
#include "path_util.h"
#include "scoped_handle.h"
#include "test_signer.h"
#include "test_signing_key.inc"
#include "test_support.h"

namespace {

using bench::FileTicks;
using bench::LogLineTime;
using bench::Median;

std::string g_bin;
std::string Bin(const std::string& name) { return JoinPath(g_bin, name); }

// Runs the launcher of `folder` to its end; the milliseconds from its process
// being created to the hall's (from its log), or -1.
double QuickStart(const std::string& folder) {
  std::string line = "\"" + JoinPath(folder, "Lumora.exe") + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &info))
    return -1;
  FILETIME creation{}, exit{}, kernel{}, user{}, local{};
  SYSTEMTIME created{};
  GetProcessTimes(info.hProcess, &creation, &exit, &kernel, &user);
  FileTimeToLocalFileTime(&creation, &local);
  FileTimeToSystemTime(&local, &created);
  if (WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 1);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  std::string log;
  testing_support::ReadFileBytes(JoinPath(folder, "Log\\starter.log"), log);
  uint64_t hall = 0;
  if (code != 0 || !LogLineTime(log, "执行程序成功", hall)) return -1;
  // The hall ends by itself (lifetime); wait for it, so runs do not overlap.
  const DWORD start = GetTickCount();
  while (FindWindowA("QZ_Orlune_U1", nullptr) && GetTickCount() - start < 15000) Sleep(20);
  return (static_cast<double>(hall) - static_cast<double>(FileTicks(created))) / 1e4;
}

std::string Digest(const std::string& path) {
  std::string bytes;
  testing_support::ReadFileBytes(path, bytes);
  trust::Digest digest{};
  trust::Sha256Of(bytes, digest);
  return trust::DigestText(digest);
}

// The three launchers compared, and how each wants its replies signed.
enum Kind { kPlain, kTrusted, kBefore, kKinds };

endpoint::Reply Signed(const std::string& body, const testing_support::TestSigner& signer,
                       Kind kind, trust::DocumentRole role) {
  endpoint::Reply reply;
  reply.body = body;
  reply.contentType = "application/json";
  if (kind == kTrusted) reply.headers.emplace_back("X-Lumora-Signature", signer.Header(body, role));
  if (kind == kBefore) reply.headers.emplace_back("X-Lumora-Signature", signer.Header(body));
  return reply;
}

void StartComparison(int count, const std::string& before) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = JoinPath(temp, "游戏淺trust" + std::to_string(GetCurrentProcessId()));
  const std::string folders[kKinds] = {JoinPath(root, "plain淺"), JoinPath(root, "trusted淺"),
                                       JoinPath(root, "before淺")};
  const std::string launchers[kKinds] = {"", Bin("LumoraTrusted.exe"), before};
  const int kinds = before.empty() ? 2 : 3;
  CreateDirectoryA(root.c_str(), nullptr);
  const std::string dist = CanonicalizePath(JoinPath(g_bin, "..\\dist"));
  for (int k = 0; k < kinds; ++k) {
    if (!testing_support::CopyTree(dist, folders[k]) ||
        (k != kPlain && !CopyFileA(launchers[k].c_str(), JoinPath(folders[k], "Lumora.exe").c_str(),
                                   FALSE))) {
      std::fprintf(stderr, "trust_bench: cannot lay out the program folders\n");
      return;
    }
  }
  static const testing_support::TestSigner signer =
      testing_support::TestSigner::FromKeyPair(kTestSigningKey);

  // One endpoint for all: the trusted launchers' requests come through the
  // TLS front (Host localhost:18443) and get signed replies naming https
  // addresses and package digests; the plain one's come straight. Which
  // trusted launcher runs is set before each start.
  endpoint::LoopbackEndpoint config, stats;
  stats.Route("/plugins/stat/run", endpoint::Reply{});
  stats.Route("/plugins/did/reg", endpoint::Reply{});
  for (const char* package : {"Tessel.pkg.exe", "Orlune.pkg.exe"}) {
    endpoint::Reply file;
    file.file = Bin(package);
    config.Route(std::string("/") + package, file);
  }
  endpoint::Reply replies[kKinds], datas[kKinds];
  const int64_t now = static_cast<int64_t>(time(nullptr));
  for (int k = 0; k < kKinds; ++k) {
    const bool secure = k != kPlain;
    const std::string base = secure ? "https://localhost:18443" : "http://127.0.0.1:18090";
    Json::Value data(Json::objectValue);
    data["platform"]["version"] = 3;
    data["platform"]["url"] = base + "/Tessel.pkg.exe";
    data["info"]["version"] = 5;
    data["info"]["url"] = base + "/Orlune.pkg.exe";
    data["info"]["file"] = "Orlune.exe";
    data["info"]["params"] = "{\"lifetime\":500}";
    Json::Value reply(Json::objectValue);
    reply["code"] = 1;
    reply["version"] = 1;
    reply["url"] = base + "/config.json";
    if (secure) {
      data["platform"]["sha256"] = Digest(Bin("Tessel.pkg.exe"));
      data["info"]["sha256"] = Digest(Bin("Orlune.pkg.exe"));
      data["version"] = 1;
      const std::string text = rt::StyledText(data);
      trust::Digest digest{};
      trust::Sha256Of(text, digest);
      reply["sha256"] = trust::DigestText(digest);
      reply["size"] = static_cast<Json::Int>(text.size());
      reply["issued"] = static_cast<Json::Int64>(now - 60);
      reply["expires"] = static_cast<Json::Int64>(now + 7 * 86400);
    }
    const Kind kind = static_cast<Kind>(k);
    datas[k] = Signed(rt::StyledText(data), signer, kind, trust::DocumentRole::ConfigData);
    replies[k] = Signed(rt::StyledText(reply), signer, kind, trust::DocumentRole::ConfigReply);
  }
  static Kind s_trustedNow = kTrusted;
  auto byLauncher = [](const endpoint::Reply* choice) {
    return [choice](const endpoint::Request& request) {
      return choice[request.host.find("localhost") != std::string::npos ? s_trustedNow : kPlain];
    };
  };
  config.Route("/starterUpdate.do", byLauncher(replies));
  config.Route("/config.json", byLauncher(datas));
  if (!config.Start(18090) || !stats.Start(9090)) {
    std::fprintf(stderr, "trust_bench: the ports 18090 and 9090 must be free (%u, %u)\n",
                 config.Port(), stats.Port());
    testing_support::RemoveTree(root);
    return;
  }
  auto start = [&](int k) {
    s_trustedNow = k == kBefore ? kBefore : kTrusted;
    return QuickStart(folders[k]);
  };
  // First starts install everything; then quick starts, alternating.
  const char* const names[kKinds] = {"plain", "trusted", "earlier trusted"};
  std::printf("first starts (both components installed):");
  for (int k = 0; k < kinds; ++k) std::printf(" %s %s", names[k], start(k) < 0 ? "FAILED" : "ok");
  std::string trustedLog;
  testing_support::ReadFileBytes(JoinPath(folders[kTrusted], "Log\\starter.log"), trustedLog);
  std::printf("%s\n", trustedLog.find("更新包校验通过") != std::string::npos ? " (packages verified)"
                                                                          : "");
  std::vector<double> times[kKinds];
  for (int i = 0; i < count; ++i) {
    for (int k = 0; k < kinds; ++k) {
      const double t = start(k);
      if (t >= 0) times[k].push_back(t);
    }
  }
  std::printf("quick starts (nothing to update), launcher process -> hall process, median "
              "(failed starts left out):\n");
  std::printf("  %6.0f ms  plain HTTP, nothing verified (%zu of %d)\n", Median(times[kPlain]),
              times[kPlain].size(), count);
  std::printf("  %6.0f ms  HTTPS, the reply's and the stored configuration's signatures verified "
              "(%zu of %d)\n",
              Median(times[kTrusted]), times[kTrusted].size(), count);
  std::printf("  %+6.0f ms  the difference\n", Median(times[kTrusted]) - Median(times[kPlain]));
  if (kinds == 3) {
    std::printf("  %6.0f ms  the earlier trusted launcher, %s (%zu of %d)\n",
                Median(times[kBefore]), before.c_str(), times[kBefore].size(), count);
    std::printf("  %+6.0f ms  trusted now against the earlier one\n",
                Median(times[kTrusted]) - Median(times[kBefore]));
  }
  config.Stop();
  stats.Stop();
  testing_support::RemoveTree(root);
}

// A 256 MiB package: reading it against hashing it, both from the cache.
void PackageDigest() {
  constexpr size_t kSize = 256u << 20;
  testing_support::TempDir dir(testing_support::TempName::kChinese);
  const std::string path = dir.Path() + "\\big淺.pkg.exe";
  {
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> piece(1 << 20);
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>(i * 7 + (i >> 11));
    DWORD written = 0;
    for (size_t done = 0; done < kSize; done += piece.size())
      WriteFile(file.Get(), piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr);
  }
  auto timed = [&](bool hash) {
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (hash) {
      trust::Digest digest{};
      int64_t read = 0;
      unsigned long error = 0;
      trust::Sha256OfFile(file.Get(), digest, read, error);
    } else {
      std::vector<char> buffer(64 * 1024);
      DWORD got = 0;
      while (ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
             got > 0) {
      }
    }
    QueryPerformanceCounter(&end);
    return (end.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart;
  };
  timed(false);  // into the cache
  std::vector<double> reads, hashes;
  for (int i = 0; i < 3; ++i) {
    reads.push_back(timed(false));
    hashes.push_back(timed(true));
  }
  const double mib = kSize / 1048576.0;
  std::printf("a 256 MiB package (from the file cache, median of 3):\n");
  std::printf("  %7.0f ms  reading it in 64 KiB pieces (%.0f MB/s)\n", Median(reads),
              mib / Median(reads) * 1000);
  std::printf("  %7.0f ms  its SHA-256 as the launcher checks it (%.0f MB/s), %.1f x reading\n",
              Median(hashes), mib / Median(hashes) * 1000, Median(hashes) / Median(reads));
  DeleteFileA(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  g_bin = ProgramFolder();
  StartComparison(count, argc > 2 ? argv[2] : "");
  PackageDigest();
  return 0;
}
