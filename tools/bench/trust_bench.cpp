// trust_bench.exe: what the trusted channel costs (run by hand through
// scripts/bench-trust.sh, which starts the loopback operator's TLS front):
//  - quick starts (nothing to update), launcher process created -> hall
//    process created, median: the plain launcher over HTTP beside the test
//    build's trusted launcher over HTTPS with signed replies and hashed
//    packages, alternating, in one run;
//  - a 256 MiB package: reading it in 64 KiB pieces beside computing its
//    SHA-256 the way the launcher checks a package (both from the file cache).
//   trust_bench [quick starts of each, default 7]
#include <windows.h>

#include <algorithm>
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

endpoint::Reply Signed(const std::string& body, const testing_support::TestSigner* signer) {
  endpoint::Reply reply;
  reply.body = body;
  reply.contentType = "application/json";
  if (signer != nullptr) reply.headers.emplace_back("X-Lumora-Signature", signer->Header(body));
  return reply;
}

void StartComparison(int count) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = JoinPath(temp, "游戏淺trust" + std::to_string(GetCurrentProcessId()));
  const std::string plain = JoinPath(root, "plain淺"), trusted = JoinPath(root, "trusted淺");
  CreateDirectoryA(root.c_str(), nullptr);
  const std::string dist = CanonicalizePath(JoinPath(g_bin, "..\\dist"));
  if (!testing_support::CopyTree(dist, plain) || !testing_support::CopyTree(dist, trusted) ||
      !CopyFileA(Bin("LumoraTrusted.exe").c_str(), JoinPath(trusted, "Lumora.exe").c_str(), FALSE)) {
    std::fprintf(stderr, "trust_bench: cannot lay out the program folders\n");
    return;
  }
  static const testing_support::TestSigner signer =
      testing_support::TestSigner::FromKeyPair(kTestSigningKey);

  // One endpoint for both: the trusted launcher's requests come through the
  // TLS front (Host localhost:18443) and get signed replies naming https
  // addresses and package digests; the plain one's come straight.
  endpoint::LoopbackEndpoint config, stats;
  stats.Route("/plugins/stat/run", endpoint::Reply{});
  stats.Route("/plugins/did/reg", endpoint::Reply{});
  for (const char* package : {"Tessel.pkg.exe", "Orlune.pkg.exe"}) {
    endpoint::Reply file;
    file.file = Bin(package);
    config.Route(std::string("/") + package, file);
  }
  endpoint::Reply replies[2], datas[2];
  for (int secure = 0; secure < 2; ++secure) {
    const std::string base = secure ? "https://localhost:18443" : "http://127.0.0.1:18090";
    Json::Value data(Json::objectValue);
    data["platform"]["version"] = 3;
    data["platform"]["url"] = base + "/Tessel.pkg.exe";
    data["info"]["version"] = 5;
    data["info"]["url"] = base + "/Orlune.pkg.exe";
    data["info"]["file"] = "Orlune.exe";
    data["info"]["params"] = "{\"lifetime\":500}";
    if (secure) {
      data["platform"]["sha256"] = Digest(Bin("Tessel.pkg.exe"));
      data["info"]["sha256"] = Digest(Bin("Orlune.pkg.exe"));
    }
    datas[secure] = Signed(rt::StyledText(data), secure ? &signer : nullptr);
    replies[secure] = Signed("{\"code\":1,\"version\":1,\"url\":\"" + base + "/config.json\"}",
                             secure ? &signer : nullptr);
  }
  auto bySecurity = [](const endpoint::Reply* choice) {
    return [choice](const endpoint::Request& request) {
      return choice[request.host.find("localhost") != std::string::npos ? 1 : 0];
    };
  };
  config.Route("/starterUpdate.do", bySecurity(replies));
  config.Route("/config.json", bySecurity(datas));
  if (!config.Start(18090) || !stats.Start(9090)) {
    std::fprintf(stderr, "trust_bench: the ports 18090 and 9090 must be free (%u, %u)\n",
                 config.Port(), stats.Port());
    testing_support::RemoveTree(root);
    return;
  }
  // First starts install everything; then quick starts, alternating.
  const double firstPlain = QuickStart(plain), firstTrusted = QuickStart(trusted);
  std::string trustedLog;
  testing_support::ReadFileBytes(JoinPath(trusted, "Log\\starter.log"), trustedLog);
  const bool verified = trustedLog.find("更新包校验通过") != std::string::npos;
  std::printf("first starts (both components installed): plain %s, trusted %s%s\n",
              firstPlain < 0 ? "FAILED" : "ok", firstTrusted < 0 ? "FAILED" : "ok",
              verified ? " (packages verified)" : "");
  std::vector<double> plainTimes, trustedTimes;
  for (int i = 0; i < count; ++i) {
    const double p = QuickStart(plain), t = QuickStart(trusted);
    if (p >= 0) plainTimes.push_back(p);
    if (t >= 0) trustedTimes.push_back(t);
  }
  std::printf("quick starts (nothing to update), launcher process -> hall process, median:\n");
  std::printf("  %6.0f ms  plain HTTP, nothing verified (%zu of %d)\n", Median(plainTimes),
              plainTimes.size(), count);
  std::printf("  %6.0f ms  HTTPS with the reply's signature verified (%zu of %d)\n",
              Median(trustedTimes), trustedTimes.size(), count);
  std::printf("  %+6.0f ms  the difference\n", Median(trustedTimes) - Median(plainTimes));
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
  StartComparison(count);
  PackageDigest();
  return 0;
}
