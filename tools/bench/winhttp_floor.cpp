// winhttp_floor.exe: the least a program that fetches over WinHTTP costs in
// private memory, stage by stage; the floor beside which the launcher's own
// figures are read (memory_bench runs it over HTTP and over HTTPS).
//   winhttp_floor <address> [requests, default 2]
//   winhttp_floor --root-store     only opens the system's Root store
// Prints one line per stage: "<stage>\t<private KiB now>\t<peak KiB so far>",
// then "requests ok" when every request got an answer with status 200.
#include <windows.h>

#include <psapi.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

SIZE_T g_peak = 0;

void Stage(const char* name) {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters))
    return;
  if (counters.PeakPagefileUsage > g_peak) g_peak = counters.PeakPagefileUsage;
  std::printf("%s\t%lu\t%lu\n", name, static_cast<unsigned long>(counters.PagefileUsage / 1024),
              static_cast<unsigned long>(g_peak / 1024));
  std::fflush(stdout);
}

// One GET in a session of its own (as a client that makes one session per
// request does); true when the answer's status is 200 and its body was read.
bool Fetch(const std::wstring& url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256] = {}, path[2048] = {};
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  HINTERNET session = WinHttpOpen(L"winhttp_floor", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) return false;
  bool ok = false;
  if (HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0)) {
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    if (HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               flags)) {
      DWORD status = 0, size = sizeof status;
      if (WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                             0, 0, 0) &&
          WinHttpReceiveResponse(request, nullptr) &&
          WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX)) {
        char buffer[8192];
        DWORD got = 0;
        while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0) {
        }
        ok = status == 200;
      } else {
        std::fprintf(stderr, "winhttp_floor: request failed, error %lu\n", GetLastError());
      }
      WinHttpCloseHandle(request);
    }
    WinHttpCloseHandle(connection);
  }
  WinHttpCloseHandle(session);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Stage("entry");
  if (argc > 1 && std::string(argv[1]) == "--alloc") {
    void* p = VirtualAlloc(nullptr, 50 << 20, MEM_COMMIT, PAGE_READWRITE);
    std::memset(p, 1, 50 << 20);
    Stage("allocated");
    VirtualFree(p, 0, MEM_RELEASE);
    Stage("freed");
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: winhttp_floor <address> [requests] | --root-store\n");
    return 2;
  }
  const std::string first = argv[1];
  if (first == "--root-store") {
    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    int count = 0;
    for (PCCERT_CONTEXT c = nullptr; store && (c = CertEnumCertificatesInStore(store, c)) != nullptr;)
      ++count;
    Stage("root store opened");
    std::printf("root certificates\t%d\n", count);
    if (store) CertCloseStore(store, 0);
    return store ? 0 : 1;
  }
  const int requests = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  const std::wstring url(first.begin(), first.end());
  if (!LoadLibraryA("winhttp.dll")) return 1;
  Stage("winhttp loaded");
  bool ok = true;
  for (int i = 0; i < requests; ++i) {
    ok = Fetch(url) && ok;
    Stage(i == 0 ? "first request" : "further request");
  }
  if (ok) std::printf("requests ok\n");
  return ok ? 0 : 1;
}
