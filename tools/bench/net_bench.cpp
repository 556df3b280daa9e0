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
// Each launcher run waits for the hall process (or the installer) it
// started to end before the next one starts; a run that fails is reported
// and left out, and a figure with no run behind it is printed as FAILED.
//   net_bench [--rtt <ms>] [--first <n>] [--quick <n>] [--package <n>]
//             [--from <folder>] [--label <text>]
// --from takes the program files from another build: <folder>\dist and
// <folder>\LumoraTrusted.exe (default: this build's dist and bin).
#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bcrypt_trust.h"
#include "bench_figures.h"
#include "json_util.h"
#include "loopback_endpoint.h"
#include "path_util.h"
#include "scoped_handle.h"
#include "test_signer.h"
#include "test_signing_key.inc"
#include "test_support.h"

namespace {

using bench::LogLineTime;
using bench::Median;

struct Settings {
  int rttMs = 50;
  int firstStarts = 3;
  int quickStarts = 5;
  int packageRuns = 2;
  std::string from;   // dist folder and trusted launcher of another build
  std::string label = "this build";
};

std::string g_bin;
std::string Bin(const std::string& name) { return JoinPath(g_bin, name); }

uint64_t Ticks(const FILETIME& f) {
  return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

std::string Digest(const std::string& path) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  trust::Digest digest{};
  int64_t size = 0;
  unsigned long error = 0;
  trust::Sha256OfFile(file.Get(), digest, size, error);
  return trust::DigestText(digest);
}

int64_t SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The machine's load as Linux tells it (Wine maps its root to Z:).
std::string Load() {
  std::string text;
  testing_support::ReadFileBytes("Z:\\proc\\loadavg", text);
  return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

// Waits for a process with this window class to show and then to end.
bool WaitForWindowProcessToEnd(const char* windowClass, DWORD appearMs) {
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  while ((window = FindWindowA(windowClass, nullptr)) == nullptr) {
    if (GetTickCount() - start > appearMs) return true;  // gone already, or never shown
    Sleep(10);
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process) return FindWindowA(windowClass, nullptr) == nullptr;
  if (WaitForSingleObject(process.Get(), 20000) == WAIT_OBJECT_0) return true;
  std::fprintf(stderr, "net_bench: the hall (process %lu) did not end\n", pid);
  return false;
}

// One launcher run to its end; milliseconds from its process being created
// to the hall's (the launcher's log line), or -1.
double RunLauncher(const std::string& folder) {
  std::string line = "\"" + JoinPath(folder, "Lumora.exe") + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &info))
    return -1;
  ScopedHandle process(info.hProcess), thread(info.hThread);
  FILETIME creation{}, exit{}, kernel{}, user{}, local{};
  SYSTEMTIME created{};
  GetProcessTimes(process.Get(), &creation, &exit, &kernel, &user);
  FileTimeToLocalFileTime(&creation, &local);
  FileTimeToSystemTime(&local, &created);
  if (WaitForSingleObject(process.Get(), 120000) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    std::fprintf(stderr, "net_bench: a launcher did not end\n");
    return -1;
  }
  DWORD code = 1;
  GetExitCodeProcess(process.Get(), &code);
  std::string log;
  testing_support::ReadFileBytes(JoinPath(folder, "Log\\starter.log"), log);
  uint64_t hall = 0;
  const bool ended = WaitForWindowProcessToEnd("QZ_Orlune_U1", 5000);
  if (code != 0 || !LogLineTime(log, "执行程序成功", hall) || !ended) {
    std::fprintf(stderr, "net_bench: a launcher run failed (exit code %ld)\n",
                 static_cast<long>(code));
    return -1;
  }
  return (static_cast<double>(hall) - static_cast<double>(bench::FileTicks(created))) / 1e4;
}

endpoint::Reply Signed(const std::string& body, const testing_support::TestSigner* signer) {
  endpoint::Reply reply;
  reply.body = body;
  reply.contentType = "application/json";
  if (signer != nullptr) reply.headers.emplace_back("X-Lumora-Signature", signer->Header(body));
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
      const std::string base = secure ? "https://localhost:18443" : "http://127.0.0.1:18090";
      Json::Value data(Json::objectValue);
      if (!platform.empty()) {
        data["platform"]["version"] = 3;
        data["platform"]["url"] = base + "/Tessel.pkg.exe";
      }
      data["info"]["version"] = 5;
      data["info"]["url"] = base + "/Orlune.pkg.exe";
      data["info"]["file"] = "Orlune.exe";
      data["info"]["params"] = "{\"lifetime\":500}";
      if (secure) {
        if (!platform.empty()) {
          data["platform"]["sha256"] = Digest(platform);
          data["platform"]["size"] = static_cast<Json::Int64>(SizeOf(platform));
        }
        data["info"]["sha256"] = Digest(hall);
        data["info"]["size"] = static_cast<Json::Int64>(SizeOf(hall));
      }
      const testing_support::TestSigner* signer = secure ? &Signer() : nullptr;
      datas_[secure] = Signed(rt::StyledText(data), signer);
      replies_[secure] =
          Signed("{\"code\":1,\"version\":1,\"url\":\"" + base + "/config.json\"}", signer);
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

std::string Figure(const std::vector<double>& values, int wanted) {
  if (values.empty()) return "  FAILED (no run succeeded)";
  char text[96];
  std::snprintf(text, sizeof text, "%6.0f ms (%zu of %d runs)", Median(values), values.size(), wanted);
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
      if (!LayOut(s, folder, trusted)) {
        std::fprintf(stderr, "net_bench: cannot lay out %s\n", folder.c_str());
        return;
      }
      const double first = RunLauncher(folder);
      if (first >= 0) firsts.push_back(first);
    }
    for (int i = 0; i < s.quickStarts; ++i) {
      const double quick = RunLauncher(folder);
      if (quick >= 0) quicks.push_back(quick);
    }
    const char* name = trusted ? "trusted HTTPS" : "plain HTTP   ";
    std::printf("  %s first start (both components installed): %s\n", name,
                Figure(firsts, s.firstStarts).c_str());
    std::printf("  %s quick start (nothing to update):          %s\n", name,
                Figure(quicks, s.quickStarts).c_str());
  }
}

// The creation time (UTC FILETIME units) of the first process named
// `exeName` seen from now on, polled every few milliseconds until `stop`.
void WatchForProcess(const char* exeName, std::atomic<bool>& stop, std::atomic<uint64_t>& created) {
  while (!stop && created == 0) {
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32First(snapshot.Get(), &entry); more;
         more = Process32Next(snapshot.Get(), &entry)) {
      if (lstrcmpiA(entry.szExeFile, exeName) != 0) continue;
      ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      FILETIME creation{}, exit{}, kernel{}, user{};
      if (process && GetProcessTimes(process.Get(), &creation, &exit, &kernel, &user)) {
        created = Ticks(creation);
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
  std::vector<double> waits;
  std::vector<double> downloads;
  for (int i = 0; i < s.packageRuns; ++i) {
    const std::string folder = JoinPath(root, "package淺");
    if (!LayOut(s, folder, true)) return;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> installer{0};
    std::thread watcher(WatchForProcess, "Orlune.pkg.exe", std::ref(stop), std::ref(installer));
    const DWORD started = GetTickCount();
    const double p1 = RunLauncher(folder);
    stop = true;
    watcher.join();
    const uint64_t lastByte = op.Config().LastBodyEnd();
    if (p1 < 0 || installer == 0 || lastByte == 0 || installer < lastByte) {
      std::fprintf(stderr, "net_bench: package run %d failed\n", i + 1);
      continue;
    }
    waits.push_back(static_cast<double>(installer - lastByte) / 1e4);
    downloads.push_back(GetTickCount() - started);
  }
  std::printf("a 256 MiB hall package, trusted launcher, loopback without added latency:\n");
  std::printf("  last byte sent -> installer process created: %s (goal: at most 500 ms)\n",
              Figure(waits, s.packageRuns).c_str());
  std::printf("  whole start with the download and the install: %s\n",
              Figure(downloads, s.packageRuns).c_str());
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
  }
  g_bin = ProgramFolder();
  SYSTEMTIME now{};
  GetLocalTime(&now);
  std::printf("net_bench (%s): %04u-%02u-%02u %02u:%02u, load %s\n", s.label.c_str(), now.wYear,
              now.wMonth, now.wDay, now.wHour, now.wMinute, Load().c_str());
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = JoinPath(temp, "游戏淺net" + std::to_string(GetCurrentProcessId()));
  CreateDirectoryA(root.c_str(), nullptr);
  Operator op;
  if (!op.Start(s.rttMs)) {
    std::fprintf(stderr, "net_bench: the ports 18090 and 9090 must be free\n");
    return 3;
  }
  if (s.firstStarts + s.quickStarts > 0) Starts(s, op, root);
  if (s.packageRuns > 0) Package(s, op, root);
  testing_support::RemoveTree(root);
  return 0;
}
