// net_bench.exe: the launcher's starts over a slow network and a large
// package's way from its last byte to its installer (run by hand through
// scripts/bench-net.sh, which starts the TLS front with the same latency):
//  - first starts (both components installed, the update view shown) and
//    quick starts (nothing to update), plain HTTP and trusted HTTPS, with the
//    loopback endpoints answering after an added round trip (once per
//    connection, once per answer; the TLS front adds two per handshake):
//    launcher process created -> hall process created, medians;
//  - a 256 MiB hall package through the trusted launcher on plain loopback:
//    from the endpoint writing its last byte to the installer's process
//    being created (the download's end, the digest check, the updater).
// Each launcher run waits for everything it started (the updater, the
// installers, the hall) to end before the next one starts; a run that fails
// stops the benchmark with the reason (bench_run.h).
//   net_bench [--rtt <ms>] [--first <n>] [--quick <n>] [--package <n>]
//             [--from <folder>] [--label <text>] [--signed-bytes-alone 1]
// --from takes the program files from another build: <folder>\dist and
// <folder>\LumoraTrusted.exe (default: this build's dist and bin);
// --signed-bytes-alone 1 signs the replies over their bytes alone, as trusted
// launchers before documents were signed by kind want them.
#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bcrypt_trust.h"
#include "bench_figures.h"
#include "bench_release.h"
#include "bench_run.h"
#include "json_util.h"
#include "loopback_endpoint.h"
#include "path_util.h"
#include "scoped_handle.h"
#include "test_signer.h"
#include "test_signing_key.inc"
#include "test_support.h"

namespace {

using bench::Median;

struct Settings {
  int rttMs = 50;
  int firstStarts = 3;
  int quickStarts = 5;
  int packageRuns = 2;
  std::string from;   // dist folder and trusted launcher of another build
  std::string label = "this build";
  bool bytesAlone = false;  // sign the bytes alone, as launchers before signed kinds want
};

std::string g_bin;
std::string Bin(const std::string& name) { return JoinPath(g_bin, name); }

// One launcher run to the end of everything it started.
bench::Run RunLauncher(const std::string& folder, const char* what) {
  const bench::Run run =
      bench::RunToTheEnd("\"" + JoinPath(folder, "Lumora.exe") + "\"", folder);
  bench::Require("net_bench", what, run, JoinPath(folder, "Log\\starter.log"));
  return run;
}

// Milliseconds from the launcher's process being created to the hall's.
double ToHall(const bench::Run& run, const std::string& folder, const char* what) {
  const double ms = run.MsToChild("Orlune.exe");
  if (ms < 0) bench::Fail("net_bench", std::string(what) + ": no hall was started",
                          JoinPath(folder, "Log\\starter.log"));
  return ms;
}

// A reply; with a signer, signed as `role` (or over the bytes alone).
endpoint::Reply Signed(const std::string& body, const testing_support::TestSigner* signer,
                       trust::DocumentRole role, bool bytesAlone) {
  endpoint::Reply reply;
  reply.body = body;
  reply.contentType = "application/json";
  if (signer != nullptr)
    reply.headers.emplace_back("X-Lumora-Signature",
                               bytesAlone ? signer->Header(body) : signer->Header(body, role));
  return reply;
}

const testing_support::TestSigner& Signer() {
  static const testing_support::TestSigner signer =
      testing_support::TestSigner::FromKeyPair(kTestSigningKey);
  return signer;
}

// The operator: replies by the address the launcher asked (the trusted one
// comes through the TLS front as localhost:18443 and gets signed replies
// naming https addresses and digests).
class Operator {
 public:
  explicit Operator(bool bytesAlone) : bytesAlone_(bytesAlone) {}
  bool Start(int rttMs) {
    stats_.Route("/plugins/stat/run", endpoint::Reply{});
    stats_.Route("/plugins/did/reg", endpoint::Reply{});
    config_.SetLatency(rttMs);
    stats_.SetLatency(rttMs);
    return config_.Start(18090) && stats_.Start(9090);
  }
  // Serves `hall` (and, unless empty, `platform`) as the packages.
  void Serve(const std::string& platform, const std::string& hall) {
    for (int secure = 0; secure < 2; ++secure) {
      const bench::ReleaseTexts release = bench::ReleaseFor(
          secure ? "https://localhost:18443" : "http://127.0.0.1:18090", platform, hall, secure);
      const testing_support::TestSigner* signer = secure ? &Signer() : nullptr;
      datas_[secure] = Signed(release.data, signer, trust::DocumentRole::ConfigData, bytesAlone_);
      replies_[secure] =
          Signed(release.reply, signer, trust::DocumentRole::ConfigReply, bytesAlone_);
    }
    endpoint::Reply file;
    file.file = hall;
    config_.Route("/Orlune.pkg.exe", file);
    file.file = platform;
    if (!platform.empty()) config_.Route("/Tessel.pkg.exe", file);
    const endpoint::Reply* replies = replies_;
    const endpoint::Reply* datas = datas_;
    config_.Route("/starterUpdate.do", [replies](const endpoint::Request& r) {
      return replies[r.host.find("localhost") != std::string::npos ? 1 : 0];
    });
    config_.Route("/config.json", [datas](const endpoint::Request& r) {
      return datas[r.host.find("localhost") != std::string::npos ? 1 : 0];
    });
  }
  void SetLatency(int ms) {
    config_.SetLatency(ms);
    stats_.SetLatency(ms);
  }
  endpoint::LoopbackEndpoint& Config() { return config_; }

 private:
  const bool bytesAlone_;
  endpoint::LoopbackEndpoint config_, stats_;
  endpoint::Reply replies_[2], datas_[2];
};

// A fresh program folder: the dist files, and the trusted launcher as
// Lumora.exe when `trusted`.
bool LayOut(const Settings& s, const std::string& folder, bool trusted) {
  const std::string dist =
      s.from.empty() ? CanonicalizePath(JoinPath(g_bin, "..\\dist")) : JoinPath(s.from, "dist");
  const std::string trustedExe =
      s.from.empty() ? Bin("LumoraTrusted.exe") : JoinPath(s.from, "LumoraTrusted.exe");
  testing_support::RemoveTree(folder);
  if (!testing_support::CopyTree(dist, folder)) return false;
  return !trusted ||
         CopyFileA(trustedExe.c_str(), JoinPath(folder, "Lumora.exe").c_str(), FALSE) != FALSE;
}

std::string Figure(const std::vector<double>& values) {
  char text[96];
  std::snprintf(text, sizeof text, "%6.0f ms (median of %zu)", Median(values), values.size());
  return text;
}

void Starts(const Settings& s, Operator& op, const std::string& root) {
  op.Serve(Bin("Tessel.pkg.exe"), Bin("Orlune.pkg.exe"));
  std::printf("starts at %d ms round trip (launcher process created -> hall process created, "
              "median):\n",
              s.rttMs);
  for (const bool trusted : {false, true}) {
    std::vector<double> firsts, quicks;
    const std::string folder = JoinPath(root, trusted ? "trusted淺" : "plain淺");
    for (int i = 0; i < s.firstStarts; ++i) {
      if (!LayOut(s, folder, trusted)) bench::Fail("net_bench", "cannot lay out " + folder);
      firsts.push_back(ToHall(RunLauncher(folder, "a first start"), folder, "a first start"));
    }
    for (int i = 0; i < s.quickStarts; ++i)
      quicks.push_back(ToHall(RunLauncher(folder, "a quick start"), folder, "a quick start"));
    const char* name = trusted ? "trusted HTTPS" : "plain HTTP   ";
    if (!firsts.empty())
      std::printf("  %s first start (both components installed): %s\n", name,
                  Figure(firsts).c_str());
    if (!quicks.empty())
      std::printf("  %s quick start (nothing to update):          %s\n", name,
                  Figure(quicks).c_str());
  }
}

// The creation time (local FILETIME units) of the first process named
// `exeName` that shows, polled every few milliseconds until `stop`. (The
// updater the launcher starts, and its installer, run outside the job the
// benchmark runner watches.)
void WatchForProcess(const char* exeName, std::atomic<bool>& stop, std::atomic<uint64_t>& created) {
  while (!stop && created == 0) {
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32First(snapshot.Get(), &entry); more;
         more = Process32Next(snapshot.Get(), &entry)) {
      if (lstrcmpiA(entry.szExeFile, exeName) != 0) continue;
      ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      FILETIME creation{}, exit{}, kernel{}, user{}, local{};
      if (process && GetProcessTimes(process.Get(), &creation, &exit, &kernel, &user) &&
          FileTimeToLocalFileTime(&creation, &local)) {
        created = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
        return;
      }
    }
    Sleep(3);
  }
}

void Package(const Settings& s, Operator& op, const std::string& root) {
  // The hall package with 256 MiB appended (a program runs with data after
  // its image; the installer reads only its resources).
  const std::string big = JoinPath(root, "Orlune.pkg.exe");
  if (!CopyFileA(Bin("Orlune.pkg.exe").c_str(), big.c_str(), FALSE)) return;
  {
    ScopedHandle file(CreateFileA(big.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    std::vector<char> piece(1 << 20);
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>(i * 7 + (i >> 11));
    DWORD written = 0;
    for (int i = 0; i < 256; ++i)
      WriteFile(file.Get(), piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr);
  }
  op.SetLatency(0);
  op.Serve(std::string(), big);
  std::vector<double> waits, wholes, toCheck, checkToInstaller, fromWritten;
  for (int i = 0; i < s.packageRuns; ++i) {
    const std::string folder = JoinPath(root, "package淺");
    if (!LayOut(s, folder, true)) bench::Fail("net_bench", "cannot lay out " + folder);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> installerCreated{0};
    std::thread watcher(WatchForProcess, "Orlune.pkg.exe", std::ref(stop),
                        std::ref(installerCreated));
    const bench::Run run = RunLauncher(folder, "a start with a 256 MiB package");
    stop = true;
    watcher.join();
    const double installer =
        installerCreated == 0
            ? -1
            : (static_cast<double>(installerCreated) - static_cast<double>(run.created)) / 1e4;
    FILETIME lastUtc{}, lastLocal{};
    const uint64_t lastByte = op.Config().LastBodyEnd();
    lastUtc.dwHighDateTime = static_cast<DWORD>(lastByte >> 32);
    lastUtc.dwLowDateTime = static_cast<DWORD>(lastByte);
    FileTimeToLocalFileTime(&lastUtc, &lastLocal);
    const double lastByteMs =
        (static_cast<double>((static_cast<uint64_t>(lastLocal.dwHighDateTime) << 32) |
                             lastLocal.dwLowDateTime) -
         static_cast<double>(run.created)) / 1e4;
    if (installer < 0 || lastByte == 0 || installer < lastByteMs) {
      std::string seen;
      for (const bench::Child& child : run.children) seen += " " + child.name;
      if (installerCreated == 0) seen += " (no Orlune.pkg.exe process)";
      bench::Fail("net_bench",
                  "a start with a 256 MiB package: no installer after the last byte (installer " +
                      std::to_string(installer) + " ms, last byte " + std::to_string(lastByteMs) +
                      " ms after the launcher's creation; processes seen:" + seen + ")",
                  JoinPath(folder, "Log\\starter.log"));
    }
    waits.push_back(installer - lastByteMs);
    wholes.push_back(installer);
    // The package's last write time: when the service wrote its last byte
    // (local FILETIME units), as the downloading side saw it.
    WIN32_FILE_ATTRIBUTE_DATA file{};
    FILETIME written{};
    if (GetFileAttributesExA(JoinPath(folder, "Download\\Orlune.pkg.exe").c_str(),
                             GetFileExInfoStandard, &file) &&
        FileTimeToLocalFileTime(&file.ftLastWriteTime, &written)) {
      const double writtenMs =
          (static_cast<double>((static_cast<uint64_t>(written.dwHighDateTime) << 32) |
                               written.dwLowDateTime) -
           static_cast<double>(run.created)) / 1e4;
      fromWritten.push_back(installer - writtenMs);
    }
    std::string log;
    testing_support::ReadFileBytes(JoinPath(folder, "Log\\starter.log"), log);
    uint64_t checked = 0;
    if (bench::LogLineTime(log, "更新包校验通过", checked)) {
      const double checkedMs =
          (static_cast<double>(checked) - static_cast<double>(run.created)) / 1e4;
      toCheck.push_back(checkedMs - lastByteMs);
      checkToInstaller.push_back(installer - checkedMs);
    }
  }
  std::printf("a 256 MiB hall package, trusted launcher, loopback without added latency:\n");
  std::printf("  last byte sent -> installer process created: %s (goal: at most 500 ms)\n",
              Figure(waits).c_str());
  if (!toCheck.empty()) {
    std::printf("    of it: last byte sent -> the launcher's package check logged: %s\n",
                Figure(toCheck).c_str());
    std::printf("           check logged -> installer created (updater and installer started): %s\n",
                Figure(checkToInstaller).c_str());
  }
  if (!fromWritten.empty())
    std::printf("  the package's last byte written on the launcher's side -> installer created: %s\n",
                Figure(fromWritten).c_str());
  std::printf("  launcher process created -> installer process created: %s\n",
              Figure(wholes).c_str());
  DeleteFileA(big.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--rtt") s.rttMs = std::atoi(value.c_str());
    else if (key == "--first") s.firstStarts = std::atoi(value.c_str());
    else if (key == "--quick") s.quickStarts = std::atoi(value.c_str());
    else if (key == "--package") s.packageRuns = std::atoi(value.c_str());
    else if (key == "--from") s.from = value;
    else if (key == "--label") s.label = value;
    else if (key == "--signed-bytes-alone") s.bytesAlone = value == "1";
  }
  g_bin = ProgramFolder();
  std::printf("net_bench (%s): %s\n", s.label.c_str(), bench::MachineLine().c_str());
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = JoinPath(temp, "游戏淺net" + std::to_string(GetCurrentProcessId()));
  CreateDirectoryA(root.c_str(), nullptr);
  Operator op(s.bytesAlone);
  if (!op.Start(s.rttMs)) bench::Fail("net_bench", "the ports 18090 and 9090 must be free");
  if (s.firstStarts + s.quickStarts > 0) Starts(s, op, root);
  if (s.packageRuns > 0) Package(s, op, root);
  testing_support::RemoveTree(root);
  return 0;
}
