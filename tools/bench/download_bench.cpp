// Download.dll's throughput and memory: serves a 16 MiB and a 256 MiB file
// from the loopback endpoint (files in a temporary folder), downloads each
// through the library as the launcher does (a window receiving the records)
// and prints MB/s and the process's private memory. Not a test: figures vary
// with the machine.
//
//   download_bench [--port N] [--runs N] [--serve]
//
// With --serve it keeps serving the same files at /f16 and /f256 after its
// own downloads, until a request for /stop arrives, so that another client
// (curl, in scripts/bench-download.sh) can fetch the same files from the same
// server; /ready answers 200 from then on.
//
// Beside the library, a bare WinHTTP loop (one request, QueryDataAvailable and
// ReadData into a file of the same folder, nothing else) fetches the same
// files: the gap between the two is the service's own cost, the gap between
// the bare loop and curl is WinHTTP's (under Wine: its receives in 8 KiB
// pieces, each a round trip through the Wine server). For reference it also
// reads the 256 MiB file over a plain socket with 8 KiB and with 256 KiB
// receives (no file written).
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download_service.h"
#include "loopback_endpoint.h"
#include "templdate_helper.h"

namespace {

constexpr wchar_t kClassName[] = L"DownloadBenchRecords";

struct Outcome {
  bool ended = false;
  int32_t status = 0;
  int32_t loaded = 0;
  int records = 0;
};

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    auto* outcome = reinterpret_cast<Outcome*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (outcome != nullptr && copy->dwData == kDownloadNoticeId &&
        copy->cbData >= sizeof(DownloadNotice)) {
      DownloadNotice notice;
      std::memcpy(&notice, copy->lpData, sizeof notice);
      ++outcome->records;
      outcome->loaded = notice.loaded;
      if (notice.status == kDownloadFinished || notice.status == kDownloadFailed) {
        outcome->ended = true;
        outcome->status = notice.status;
      }
    }
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

struct Memory {
  double privateMiB = 0;
  double peakMiB = 0;
};

Memory ProcessMemory() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  Memory m;
  if (GetProcessMemoryInfo(GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
    m.privateMiB = counters.PrivateUsage / 1048576.0;
    m.peakMiB = counters.PeakPagefileUsage / 1048576.0;
  }
  return m;
}

bool MakeFile(const std::string& path, size_t mib) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string block(1024 * 1024, '\0');
  bool ok = true;
  for (size_t i = 0; i < mib && ok; ++i) {
    for (size_t k = 0; k < block.size(); ++k) block[k] = static_cast<char>((k * 7 + i * 13) & 0xff);
    DWORD written = 0;
    ok = WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) &&
         written == block.size();
  }
  CloseHandle(file);
  return ok;
}

void RemoveFolder(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name != "." && name != "..") DeleteFileA((folder + "\\" + name).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

// Downloads `url` into `folder` as `name`; the seconds it took, or -1.
double Download(IDownloadService* service, HWND window, const std::string& url,
                const std::string& folder, const std::string& name, Outcome& outcome) {
  DownloadTaskParams params;
  std::memset(&params, 0, sizeof params);
  std::snprintf(params.url, sizeof params.url, "%s", url.c_str());
  std::snprintf(params.folder, sizeof params.folder, "%s", folder.c_str());
  std::snprintf(params.name, sizeof params.name, "%s", name.c_str());
  outcome = Outcome();
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&outcome));
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (service->CreateTask(kTaskDownloadFile, &params, window) == 0) return -1;
  // Records are sent messages: they are handled inside PeekMessage/the wait,
  // never returned by GetMessage, so the loop checks after each wake-up.
  while (!outcome.ended) {
    MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  QueryPerformanceCounter(&end);
  DeleteFileA((folder + "\\" + name).c_str());
  if (outcome.status != kDownloadFinished) return -1;
  return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// GETs `path` with WinHTTP alone into `file`; the seconds it took, or -1.
double BareWinHttpGet(uint16_t port, const wchar_t* path, const std::string& file) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  HINTERNET session = WinHttpOpen(L"download_bench", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", port, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, nullptr,
                                                      WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                 : nullptr;
  HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = request != nullptr && out != INVALID_HANDLE_VALUE &&
            WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                               0, 0, 0) &&
            WinHttpReceiveResponse(request, nullptr);
  std::vector<char> buffer(256 * 1024);
  while (ok) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) ok = false;
    if (!ok || available == 0) break;
    DWORD got = 0, written = 0;
    const DWORD want = available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
    ok = WinHttpReadData(request, buffer.data(), want, &got) &&
         WriteFile(out, buffer.data(), got, &written, nullptr) && written == got;
    if (got == 0) break;
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  QueryPerformanceCounter(&end);
  DeleteFileA(file.c_str());
  if (!ok) return -1;
  return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// GETs `path` over a plain socket with receives of `chunk` bytes; MB/s of the
// whole response, or -1.
double RawSocketGet(uint16_t port, const char* path, int chunk) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  double total = 0;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(s, request.data(), static_cast<int>(request.size()), 0) > 0) {
    std::vector<char> buffer(chunk);
    for (;;) {
      const int n = recv(s, buffer.data(), chunk, 0);
      if (n <= 0) break;
      total += n;
    }
  }
  QueryPerformanceCounter(&end);
  closesocket(s);
  const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
  return total > 0 ? total / 1e6 / seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  uint16_t port = 0;
  int runs = 3;
  bool serve = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--port") && i + 1 < argc) port = static_cast<uint16_t>(std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--serve")) serve = true;
  }

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "download_bench_" + std::to_string(GetCurrentProcessId());
  const std::string served = folder + "\\served";
  const std::string landed = folder + "\\landed";
  if (!CreateDirectoryA(folder.c_str(), nullptr) || !CreateDirectoryA(served.c_str(), nullptr) ||
      !CreateDirectoryA(landed.c_str(), nullptr)) {
    std::printf("cannot create %s\n", folder.c_str());
    return 1;
  }
  const struct {
    const char* path;
    size_t mib;
  } files[] = {{"/f16", 16}, {"/f256", 256}};

  endpoint::LoopbackEndpoint server;
  if (!server.Start(port)) {
    std::printf("cannot listen on port %u\n", port);
    return 1;
  }
  for (const auto& f : files) {
    const std::string path = served + "\\" + (f.path + 1);
    if (!MakeFile(path, f.mib)) {
      std::printf("cannot write %s\n", path.c_str());
      return 1;
    }
    endpoint::Reply reply;
    reply.file = path;
    server.Route(f.path, reply);
  }

  WNDCLASSW wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  CTempldateHelper<IDownloadService> service(kCreateDownloadServiceName, kDownloadLibraryName,
                                             &kDownloadServiceIid, kDownloadServiceVersion);
  if (window == nullptr || !service.LoadComponent()) {
    std::printf("cannot load %s\n", kDownloadLibraryName);
    return 1;
  }
  const Memory before = ProcessMemory();
  std::printf("served from http://127.0.0.1:%u, files in %s\n", server.Port(), served.c_str());
  std::printf("private memory before downloading: %.1f MiB (peak %.1f MiB)\n", before.privateMiB,
              before.peakMiB);
  int failures = 0;
  for (const auto& f : files) {
    double best = 0;
    for (int run = 0; run < runs; ++run) {
      Outcome outcome;
      const double seconds = Download(service.Get(), window, server.Url(f.path), landed,
                                      std::string("copy") + (f.path + 1), outcome);
      if (seconds <= 0) {
        std::printf("%4zu MiB run %d: FAILED (status %d)\n", f.mib, run + 1, outcome.status);
        ++failures;
        continue;
      }
      const double mbps = f.mib * 1048576.0 / 1e6 / seconds;
      if (mbps > best) best = mbps;
      const Memory m = ProcessMemory();
      std::printf("%4zu MiB run %d: %.2f s, %.1f MB/s, %d records; private %.1f MiB, peak %.1f MiB\n",
                  f.mib, run + 1, seconds, mbps, outcome.records, m.privateMiB, m.peakMiB);
    }
    const Memory m = ProcessMemory();
    std::printf("RESULT %s %zu MiB best %.1f MB/s peak private %.1f MiB (%.1f MiB above the start)\n",
                f.path + 1, f.mib, best, m.peakMiB, m.peakMiB - before.peakMiB);
  }
  for (const auto& f : files) {
    double best = 0;
    const std::wstring path(f.path, f.path + std::strlen(f.path));
    for (int run = 0; run < runs; ++run) {
      const double seconds =
          BareWinHttpGet(server.Port(), path.c_str(), landed + "\\bare" + (f.path + 1));
      if (seconds <= 0) {
        std::printf("%4zu MiB bare WinHTTP run %d: FAILED\n", f.mib, run + 1);
        ++failures;
        continue;
      }
      const double mbps = f.mib * 1048576.0 / 1e6 / seconds;
      if (mbps > best) best = mbps;
      std::printf("%4zu MiB bare WinHTTP run %d: %.2f s, %.1f MB/s\n", f.mib, run + 1, seconds, mbps);
    }
    std::printf("RESULT-WINHTTP %s %zu MiB best %.1f MB/s\n", f.path + 1, f.mib, best);
  }
  service.Unload();
  DestroyWindow(window);

  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  for (int chunk : {8 * 1024, 256 * 1024}) {
    double best = 0;
    for (int run = 0; run < runs; ++run) {
      const double mbps = RawSocketGet(server.Port(), "/f256", chunk);
      if (mbps > best) best = mbps;
    }
    std::printf("reference: plain socket GET of f256, %3d KiB receives: best %.1f MB/s\n",
                chunk / 1024, best);
  }

  if (serve) {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    endpoint::Reply ok;
    ok.body = "ready";
    server.Route("/ready", ok);
    server.Route("/stop", [stop](const endpoint::Request&) {
      SetEvent(stop);
      endpoint::Reply bye;
      bye.body = "stopping";
      return bye;
    });
    WaitForSingleObject(stop, 30 * 60 * 1000);
    Sleep(200);  // let the last answer go out
    CloseHandle(stop);
  }
  server.Stop();
  RemoveFolder(landed);
  RemoveFolder(served);
  RemoveFolder(folder);
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
