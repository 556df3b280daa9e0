// Prints figures for the runtime's hot paths: posting and running calls,
// how many calls one 5 ms pump runs, envelope coding and log writing.
// Not a test: numbers vary with the machine. The log it writes lives in a
// temporary folder, removed at the end.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench_run.h"
#include "json_util.h"
#include "log_file.h"
#include "operation_engine.h"
#include "param_envelope.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int g_runs = 0;
void Count(const std::string&, Json::Value) { ++g_runs; }

std::string SampleCall() {
  Json::Value call;
  call["op"] = "Count";
  call["opsign"] = 42;
  call["url"] = "http://127.0.0.1:9090/starterUpdate.do?v=2014040401&did=MD123&u=7&d=0&cv=3";
  call["then"]["op"] = "CheckConfig";
  call["then"]["opsign"] = 42;
  call["then"]["note"] = "配置检查";
  return rt::StyledText(call);
}

// A fresh folder below %TEMP% made the current directory, so that the log's
// "Log" folder lands there; removed with the log on destruction.
class ScratchFolder {
 public:
  ScratchFolder() {
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return;
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%slumora_bench_%lu", temp, GetCurrentProcessId());
    if (!CreateDirectoryA(name, nullptr) || !SetCurrentDirectoryA(name)) return;
    temp_.assign(temp, n);
    folder_ = name;
  }
  ~ScratchFolder() {
    if (folder_.empty()) return;
    LogFile::Instance().Close();
    SetCurrentDirectoryA(temp_.c_str());
    DeleteFileA((folder_ + "\\Log\\bench.log").c_str());
    RemoveDirectoryA((folder_ + "\\Log").c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  bool Ready() const { return !folder_.empty(); }

 private:
  std::string temp_;  // the current directory while the folder is removed
  std::string folder_;
};

}  // namespace

int main() {
  std::printf("runtime_bench: %s\n", bench::MachineLine().c_str());
  ScratchFolder scratch;
  if (!scratch.Ready()) {
    std::printf("cannot make a temporary folder for the log\n");
    return 1;
  }
  SetLogFileName("Log\\bench.log");
  RegisterOperation("Bench", "Count", Count);
  const std::string call = SampleCall();
  const int n = 20000;

  Clock::time_point start = Clock::now();
  for (int i = 0; i < n; ++i) PostCall("Bench", call);
  const double post = Seconds(start);
  std::printf("PostCall:          %8.0f calls/s (%zu-byte call text)\n", n / post, call.size());

  start = Clock::now();
  int pumps = 0;
  g_runs = 0;
  while (g_runs < n) {
    PumpModule("Bench", 5);
    ++pumps;
  }
  const double run = Seconds(start);
  std::printf("run (5 ms pumps):  %8.0f calls/s, %.0f calls per pump\n", n / run,
              static_cast<double>(n) / pumps);

  const std::string payload(4096, 'x');
  start = Clock::now();
  std::string envelope;
  for (int i = 0; i < 2000; ++i) envelope = ParamEnvelope::Wrap(payload);
  const double wrap = Seconds(start);
  start = Clock::now();
  for (int i = 0; i < 2000; ++i) ParamEnvelope::Unwrap(envelope);
  const double unwrap = Seconds(start);
  std::printf("envelope encode:   %8.1f MB/s, decode %.1f MB/s\n", 2000 * 4096 / wrap / 1e6,
              2000 * 4096 / unwrap / 1e6);

  const std::string line(200, 'l');
  start = Clock::now();
  for (int i = 0; i < 20000; ++i) WriteLog(line.c_str());
  std::printf("WriteLog:          %8.0f lines/s (200-byte messages)\n", 20000 / Seconds(start));
  return 0;
}
