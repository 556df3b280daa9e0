// trust_bench.exe: what the trusted channel costs (run by hand through
// scripts/bench-trust.sh, which starts the loopback operator's TLS front):
//  - quick starts (nothing to update), launcher process created -> hall
//    process created, median: the plain launcher over HTTP beside the test
//    build's trusted launcher over HTTPS with signed replies and hashed
//    packages, alternating, in one run, and Wine's empty-program start;
//  - the launchers' peak private memory on those starts and on their first
//    starts (update view shown), beside the floor: an empty program and a bare
//    WinHTTP client over HTTP and over HTTPS; the trusted launcher is measured
//    stripped as shipped programs are, and as built for the tests (debug
//    information inside its image, which Wine reads into private memory);
//  - a 256 MiB package: reading it in 64 KiB pieces beside computing its
//    SHA-256 the way the launcher checks a package (both from the file cache).
// Given an earlier trusted launcher (its replies signed over the bytes alone,
// as before documents named their kind), its quick starts alternate with the
// others, so a change of the trusted start is measured before and after in
// the same run.
// Every run ends when the launcher and all it started have ended; a failed
// run stops the benchmark with a message and exit code 1.
//   trust_bench [quick starts of each, default 7] [earlier LumoraTrusted.exe]
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <string>
#include <vector>

#include "bcrypt_trust.h"
#include "json_util.h"
#include "bench_figures.h"
#include "bench_release.h"
#include "bench_run.h"
#include "loopback_endpoint.h"
#include "path_util.h"
#include "scoped_handle.h"
#include "test_signer.h"
#include "test_signing_key.inc"
#include "test_support.h"

namespace {

using bench::kMiB;
using bench::Median;

constexpr char kBench[] = "trust_bench";

std::string g_bin;
std::string Bin(const std::string& name) { return JoinPath(g_bin, name); }

// A start of the launcher of `folder`, to the end of everything it started;
// stops the benchmark when it fails.
bench::Run Start(const std::string& folder, const std::string& what, bool firstStart = false) {
  const std::string log = JoinPath(folder, "Log\\starter.log");
  const bench::Run run = bench::RunToTheEnd("\"" + JoinPath(folder, "Lumora.exe") + "\"", folder);
  bench::Require(kBench, what, run, log);
  if (run.MsToChild("Orlune.exe") < 0) bench::Fail(kBench, what + ": no hall process was seen", log);
  if (firstStart) {
    std::string text;
    testing_support::ReadFileBytes(log, text);
    if (text.find("BOLT初始化[成功]") == std::string::npos)
      bench::Fail(kBench, what + ": no update view was shown", log);
  }
  return run;
}

// The bare WinHTTP client fetching `url` six times, each in a session of its
// own, then verifying with bcrypt as the trusted launcher does: private MiB at
// its entry (its own figure, median of 3 runs) and its peaks, sampled as
// the launchers' are.
struct Floor {
  double entryMiB = 0;
  std::vector<double> peakMiB;
};

Floor MeasureFloor(const std::string& url) {
  std::vector<double> entries, peaks;
  for (int i = 0; i < 3; ++i) {
    std::string out;
    const bench::Run run = bench::RunToTheEnd(
        "\"" + Bin("winhttp_floor.exe") + "\" " + url + " 6 --verify", g_bin, 30000, 0, &out);
    bench::Require(kBench, "the bare WinHTTP client for " + url, run);
    // Its first line: "entry\t<KiB now>\t<peak KiB>".
    unsigned long now = 0, peak = 0;
    if (std::sscanf(out.c_str(), "entry\t%lu\t%lu", &now, &peak) != 2 ||
        out.find("requests ok") == std::string::npos)
      bench::Fail(kBench, "the bare WinHTTP client for " + url + " said: " + out);
    entries.push_back(now / 1024.0);
    peaks.push_back(run.peakPrivate / kMiB);
  }
  return Floor{Median(entries), peaks};
}

// Milliseconds inside a launcher's start, from its first log line to the
// hall's start, from its log: what it does itself, without Wine's process
// creation (which varies by hundreds of milliseconds on a loaded machine).
double InsideMs(const std::string& folder) {
  std::string log;
  testing_support::ReadFileBytes(JoinPath(folder, "Log\\starter.log"), log);
  uint64_t first = 0, hall = 0;
  if (!bench::LogLineTime(log, "配置签名校验", first) || !bench::LogLineTime(log, "执行程序成功", hall))
    return std::nan("");
  return (static_cast<double>(hall) - static_cast<double>(first)) / 1e4;
}

// How the launchers asking want their replies: plain (none signed), trusted
// (signed as their kind), earlier trusted (signed over the bytes alone).
enum Signing { kUnsigned, kByKind, kBytesAlone, kSignings };

endpoint::Reply Signed(const std::string& body, const testing_support::TestSigner& signer,
                       Signing signing, trust::DocumentRole role) {
  endpoint::Reply reply;
  reply.body = body;
  reply.contentType = "application/json";
  if (signing == kByKind) reply.headers.emplace_back("X-Lumora-Signature", signer.Header(body, role));
  if (signing == kBytesAlone) reply.headers.emplace_back("X-Lumora-Signature", signer.Header(body));
  return reply;
}

void StartComparison(int count, const std::string& earlier) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = JoinPath(temp, "游戏淺trust" + std::to_string(GetCurrentProcessId()));
  const std::string plain = JoinPath(root, "plain淺"), trusted = JoinPath(root, "trusted淺"),
                    withDebug = JoinPath(root, "debug淺"), before = JoinPath(root, "earlier淺");
  CreateDirectoryA(root.c_str(), nullptr);
  const std::string dist = CanonicalizePath(JoinPath(g_bin, "..\\dist"));
  // The trusted launcher stripped as the shipped programs are (the build
  // makes that copy), and the test build's own with its debug information.
  const std::string stripped = CanonicalizePath(JoinPath(g_bin, "..\\bench\\LumoraTrusted.exe"));
  const std::string launchers[4] = {"", stripped, Bin("LumoraTrusted.exe"), earlier};
  const std::string folders[4] = {plain, trusted, withDebug, before};
  // A program folder as shipped, with launcher `which` (0: the plain one).
  auto layOut = [&](int which) {
    testing_support::RemoveTree(folders[which]);
    if (!testing_support::CopyTree(dist, folders[which]) ||
        (which > 0 && !CopyFileA(launchers[which].c_str(),
                                 JoinPath(folders[which], "Lumora.exe").c_str(), FALSE)))
      bench::Fail(kBench, "cannot lay out " + folders[which]);
  };
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
  endpoint::Reply replies[kSignings], datas[kSignings];
  for (int k = 0; k < kSignings; ++k) {
    const Signing signing = static_cast<Signing>(k);
    const bool secure = signing != kUnsigned;
    const bench::ReleaseTexts release =
        bench::ReleaseFor(secure ? "https://localhost:18443" : "http://127.0.0.1:18090",
                          Bin("Tessel.pkg.exe"), Bin("Orlune.pkg.exe"), secure);
    datas[k] = Signed(release.data, signer, signing, trust::DocumentRole::ConfigData);
    replies[k] = Signed(release.reply, signer, signing, trust::DocumentRole::ConfigReply);
  }
  // The trusted launchers both come through the TLS front: which one asks is
  // set before each start.
  static Signing s_trustedSigning = kByKind;
  auto bySecurity = [](const endpoint::Reply* choice) {
    return [choice](const endpoint::Request& request) {
      return choice[request.host.find("localhost") != std::string::npos ? s_trustedSigning
                                                                          : kUnsigned];
    };
  };
  config.Route("/starterUpdate.do", bySecurity(replies));
  config.Route("/config.json", bySecurity(datas));
  if (!config.Start(18090) || !stats.Start(9090))
    bench::Fail(kBench, "the ports 18090 and 9090 must be free (" +
                            std::to_string(config.Port()) + ", " + std::to_string(stats.Port()) +
                            ")");
  // First starts install everything and show the update view (each in a
  // folder laid out anew); then quick starts, alternating.
  const char* names[4] = {"plain", "trusted", "trusted (with debug information)",
                          "earlier trusted"};
  const int launcherCount = earlier.empty() ? 3 : 4;
  std::vector<double> firstMemory[4];
  for (int round = 0; round < 3; ++round) {
    for (int which = 0; which < launcherCount; ++which) {
      s_trustedSigning = which == 3 ? kBytesAlone : kByKind;
      layOut(which);
      const bench::Run run = Start(folders[which], std::string(names[which]) + " first start", true);
      firstMemory[which].push_back(run.peakPrivate / kMiB);
    }
  }
  std::string trustedLog;
  testing_support::ReadFileBytes(JoinPath(trusted, "Log\\starter.log"), trustedLog);
  if (trustedLog.find("更新包校验通过") == std::string::npos)
    bench::Fail(kBench, "the trusted first start verified no package",
                JoinPath(trusted, "Log\\starter.log"));
  std::vector<double> plainTimes, trustedTimes, plainMemory, trustedMemory, debugMemory,
      debugTimes, earlierTimes, trustedInside, earlierInside;
  for (int i = 0; i < count; ++i) {
    const std::string n = " quick start " + std::to_string(i + 1);
    s_trustedSigning = kByKind;
    const bench::Run p = Start(plain, "plain" + n), t = Start(trusted, "trusted" + n),
                     d = Start(withDebug, "trusted (with debug information)" + n);
    debugTimes.push_back(d.MsToChild("Orlune.exe"));
    trustedInside.push_back(InsideMs(trusted));
    if (!earlier.empty()) {
      s_trustedSigning = kBytesAlone;
      earlierTimes.push_back(Start(before, "earlier trusted" + n).MsToChild("Orlune.exe"));
      earlierInside.push_back(InsideMs(before));
    }
    plainTimes.push_back(p.MsToChild("Orlune.exe"));
    trustedTimes.push_back(t.MsToChild("Orlune.exe"));
    plainMemory.push_back(p.peakPrivate / kMiB);
    trustedMemory.push_back(t.peakPrivate / kMiB);
    debugMemory.push_back(d.peakPrivate / kMiB);
  }
  const double empty = bench::EmptyProgramMs(kBench, g_bin);
  const Floor http = MeasureFloor(config.Url("/starterUpdate.do"));
  const Floor https = MeasureFloor("https://localhost:18443/starterUpdate.do");
  std::printf("quick starts (nothing to update), launcher process created -> hall process "
              "created, median of %d:\n", count);
  std::printf("  %6.0f ms  plain HTTP, nothing verified\n", Median(plainTimes));
  std::printf("  %6.0f ms  HTTPS, the stored configuration's and the reply's signatures and rules "
              "verified\n",
              Median(trustedTimes));
  std::printf("  %+6.0f ms  the difference\n", Median(trustedTimes) - Median(plainTimes));
  if (!earlier.empty()) {
    // Compare like with like: a stripped earlier launcher with the stripped
    // one, one with its debug information with the test build's.
    std::printf("  %6.0f ms  trusted, with debug information in its image\n", Median(debugTimes));
    std::printf("  %6.0f ms  the earlier trusted launcher %s\n", Median(earlierTimes),
                earlier.c_str());
    std::printf("  %+6.0f ms  trusted now (stripped) against it\n",
                Median(trustedTimes) - Median(earlierTimes));
    std::printf("  %+6.0f ms  trusted now (with debug information) against it\n",
                Median(debugTimes) - Median(earlierTimes));
    std::printf("  inside the launcher (its first log line -> the hall started), without Wine's "
                "process creation:\n");
    std::printf("  %6.0f ms  trusted now (stripped)\n", Median(trustedInside));
    std::printf("  %6.0f ms  the earlier trusted launcher\n", Median(earlierInside));
    std::printf("  %+6.0f ms  the difference\n", Median(trustedInside) - Median(earlierInside));
  }
  std::printf("  %6.0f ms  an empty program started and ended (median of 5)\n", empty);
  std::printf("peak private memory, MiB, median (least-most) (sampled every 5 ms; Wine keeps "
              "as the peak the largest figure it was asked for):\n");
  auto memoryLine = [](const std::vector<double>& values, const std::string& what) {
    std::printf("  %6.1f (%.1f-%.1f)  %s\n", Median(values), bench::Least(values),
                bench::Most(values), what.c_str());
  };
  memoryLine({http.entryMiB}, "any program at its entry (the bare client's own figure)");
  memoryLine(http.peakMiB, "a bare WinHTTP client: 6 requests over HTTP, bcrypt SHA-256 and ECDSA");
  memoryLine(https.peakMiB, "the same over HTTPS: " +
                                std::to_string(Median(https.peakMiB) - Median(http.peakMiB))
                                    .substr(0, 4) +
                                " more, the system's TLS stack");
  memoryLine(plainMemory, "plain launcher, quick start");
  memoryLine(trustedMemory, "trusted launcher, quick start");
  memoryLine(firstMemory[0], "plain launcher, first start with the update view");
  char goal[128];
  std::snprintf(goal, sizeof goal,
                "trusted launcher, first start with the update view (goal: at most 25 MB = "
                "%.1f MiB)", 25e6 / kMiB);
  memoryLine(firstMemory[1], goal);
  memoryLine(debugMemory, "trusted launcher with debug information in its image, quick start");
  memoryLine(firstMemory[2], "the same, first start with the update view");
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
  std::printf("trust_bench: %s\n", bench::MachineLine().c_str());
  StartComparison(count, argc > 2 ? argv[2] : "");
  PackageDigest();
  return 0;
}
