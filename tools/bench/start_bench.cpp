// start_bench.exe: figures for the launcher's own start (run by hand, see the
// README). In a program folder laid out from the build's dist folder and
// against the operator's endpoints on their loopback ports it measures
//  - a first start (both components installed, the update view shown): the
//    launcher's peak private memory;
//  - quick starts (nothing to update): the time from the launcher's process
//    being created to the hall's process being created (both creation times
//    as the system gives them), beside the chain's ticks and the endpoint's
//    round trip, and the cost of starting an empty program under this system.
// Every run ends when the launcher and all it started have ended; a failed
// run stops the benchmark with a message and exit code 1.
//   start_bench [quick starts, default 7]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "download_service.h"
#include "json_util.h"
#include "bench_figures.h"
#include "bench_run.h"
#include "loopback_endpoint.h"
#include "path_util.h"
#include "templdate_helper.h"

namespace {

using bench::LogLineTime;
using bench::Median;

constexpr char kBench[] = "start_bench";

// Hops from the first tick to the hall's process: StartProcedure, (the
// configuration round trip), CheckConfig, CheckPlatform, CheckPlaza,
// StartPlazz, StartProcess: one 10 ms tick each.
constexpr int kQuickStartHops = 6;

std::string g_bin;

std::string Bin(const std::string& name) { return JoinPath(g_bin, name); }

bool CopyTree(const std::string& from, const std::string& to) {
  CreateDirectoryA(to.c_str(), nullptr);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(from, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ok = CopyTree(JoinPath(from, name), JoinPath(to, name)) && ok;
    else
      ok = CopyFileA(JoinPath(from, name).c_str(), JoinPath(to, name).c_str(), FALSE) && ok;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return ok;
}

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(path, "*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(JoinPath(path, name));
      else
        DeleteFileA(JoinPath(path, name).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

std::string ReadText(const std::string& path) {
  std::string bytes;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(f);
  return bytes;
}

// Data loads through Download.dll from this process, timed from the task's
// start to its record.
LRESULT CALLBACK RoundTripProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data && data->dwData == kLoadDataNoticeId)
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 1);
    return TRUE;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::vector<double> LoopbackRoundTrips(const std::string& url, int count) {
  std::vector<double> trips;
  CTempldateHelper<IDownloadService> service(kCreateDownloadServiceName, kDownloadLibraryName,
                                             &kDownloadServiceIid, kDownloadServiceVersion);
  if (!service.LoadComponent()) return trips;
  WNDCLASSA wc{};
  wc.lpfnWndProc = RoundTripProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "StartBenchRoundTrip";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  if (!window) return trips;
  for (int i = 0; i < count; ++i) {
    DownloadTaskParams params{};
    lstrcpynA(params.url, url.c_str(), sizeof params.url);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (service->CreateTask(kTaskLoadData, &params, window) == 0) break;
    while (GetWindowLongPtrA(window, GWLP_USERDATA) == 0) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    QueryPerformanceCounter(&end);
    trips.push_back((end.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart);
  }
  DestroyWindow(window);
  return trips;
}

}  // namespace

int main(int argc, char** argv) {
  const int quickStarts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  g_bin = ProgramFolder();
  const std::string dist = CanonicalizePath(JoinPath(g_bin, "..\\dist"));
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = JoinPath(temp, "游戏淺bench" + std::to_string(GetCurrentProcessId()));
  const std::string folder = JoinPath(root, "大厅淺");
  CreateDirectoryA(root.c_str(), nullptr);
  if (!CopyTree(dist, folder) || !FileExists(JoinPath(folder, "Lumora.exe"))) {
    std::fprintf(stderr, "start_bench: cannot lay out %s from %s\n", folder.c_str(), dist.c_str());
    return 2;
  }

  endpoint::LoopbackEndpoint config, stats;
  stats.Route("/plugins/stat/run", endpoint::Reply{});
  stats.Route("/plugins/did/reg", endpoint::Reply{});
  Json::Value data(Json::objectValue);
  data["platform"]["version"] = 3;
  data["platform"]["url"] = "http://127.0.0.1:18090/Tessel.pkg.exe";
  data["info"]["version"] = 5;
  data["info"]["url"] = "http://127.0.0.1:18090/Orlune.pkg.exe";
  data["info"]["file"] = "Orlune.exe";
  data["info"]["params"] = "{\"lifetime\":500}";
  endpoint::Reply configData;
  configData.body = rt::StyledText(data);
  config.Route("/config.json", configData);
  endpoint::Reply reply;
  reply.body = "{\"code\":1,\"version\":1,\"url\":\"http://127.0.0.1:18090/config.json\"}";
  config.Route("/starterUpdate.do", reply);
  for (const char* package : {"Tessel.pkg.exe", "Orlune.pkg.exe"}) {
    endpoint::Reply file;
    file.file = Bin(package);
    config.Route(std::string("/") + package, file);
  }
  if (!config.Start(18090) || !stats.Start(9090)) {
    std::fprintf(stderr, "start_bench: %s; the ports 18090 and 9090 must be free\n",
                 endpoint::PortInUse(config.Port() == 0 ? 18090 : 9090).c_str());
    RemoveTree(root);
    return 3;
  }
  const std::string launcher = "\"" + JoinPath(folder, "Lumora.exe") + "\"";
  const std::string logPath = JoinPath(folder, "Log\\starter.log");
  std::printf("start_bench: %s\n", bench::MachineLine().c_str());

  // First start: everything installed, the update view shown. Each run ends
  // only when the launcher and everything it started (updater, hall) have.
  const bench::Run first = bench::RunToTheEnd(launcher, folder);
  bench::Require(kBench, "the first start", first, logPath);
  const std::string firstLog = ReadText(logPath);
  if (firstLog.find("BOLT初始化[成功]") == std::string::npos)
    bench::Fail(kBench, "the first start showed no update view", logPath);
  std::printf("first start (both components installed, update view shown): %.0f ms\n",
              first.wallMs);
  std::printf("  launcher peak private memory: %.1f MiB (goal: at most 25 MB); peak working set "
              "%.1f MiB\n",
              first.peakPrivate / bench::kMiB, first.peakWorkingSet / bench::kMiB);

  // The cost of starting any program here: an empty one, to its end.
  const double empty = bench::EmptyProgramMs(kBench, g_bin);

  // Quick starts.
  std::vector<double> totals, toCheck, afterCheck, memory;
  for (int i = 0; i < quickStarts; ++i) {
    const std::string what = "quick start " + std::to_string(i + 1);
    const bench::Run run = bench::RunToTheEnd(launcher, folder);
    bench::Require(kBench, what, run, logPath);
    const std::string log = ReadText(logPath);
    uint64_t checked = 0;
    const double toHall = run.MsToChild("Orlune.exe");
    if (toHall < 0) bench::Fail(kBench, what + ": no hall process was seen", logPath);
    if (!LogLineTime(log, "当前[配置]版本", checked))
      bench::Fail(kBench, what + ": the log has no configuration check", logPath);
    const double check = (static_cast<double>(checked) - static_cast<double>(run.created)) / 1e4;
    totals.push_back(toHall);
    toCheck.push_back(check);
    afterCheck.push_back(toHall - check);
    memory.push_back(run.peakPrivate / bench::kMiB);
  }
  const double roundTrip = Median(LoopbackRoundTrips(config.Url("/starterUpdate.do?v=1"), 7));
  std::printf("quick starts (nothing to update), medians of %d:\n", quickStarts);
  std::printf("  %6.0f ms from the launcher's process being created to the hall's\n",
              Median(totals));
  std::printf("  %6.0f ms of it up to the configuration check (program start, first tick, the "
              "round trip)\n",
              Median(toCheck));
  std::printf("  %6.0f ms from the configuration check to the hall (%d hops)\n",
              Median(afterCheck), kQuickStartHops - 1);
  std::printf("  %6.1f ms one configuration round trip through Download.dll on loopback\n",
              roundTrip);
  std::printf("  %6.0f ms to start and end an empty program under this system (median of 5)\n",
              empty);
  std::printf("  %6.1f MiB launcher peak private memory\n", Median(memory));
  std::printf("  goal: %d hops x 10 ms + %.0f ms round trip + 50 ms own work = %.0f ms, "
              "beside the program start\n",
              kQuickStartHops, roundTrip, kQuickStartHops * 10 + roundTrip + 50);
  config.Stop();
  stats.Stop();
  RemoveTree(root);
  return 0;
}
