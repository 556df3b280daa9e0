// winhttp_floor.exe: the least a program that fetches over WinHTTP costs in
// private memory, stage by stage; the floor beside which the launcher's own
// figures are read (memory_bench runs it over HTTP and over HTTPS).
//   winhttp_floor <address> [requests, default 2] [--verify]
//   winhttp_floor --root-store     only opens the system's Root store
// --verify: then hashes 1 MiB (in 64 KiB pieces) with SHA-256 and makes and checks an ECDSA
// P-256 signature through bcrypt, as a launcher that verifies replies does.
// Prints one line per stage: "<stage>\t<private KiB now>\t<peak KiB so far>"
// (under Wine the peak is the largest figure asked for, here at the stages),
// then "requests ok" when every request got an answer with status 200.
#include <windows.h>

#include <bcrypt.h>
#include <psapi.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// SHA-256 of 1 MiB and an ECDSA P-256 signature made and verified, through
// bcrypt; true when the signature verifies.
bool Verify() {
  BCRYPT_ALG_HANDLE sha = nullptr, ecdsa = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  bool ok = false;
  if (BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
      BCryptOpenAlgorithmProvider(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == 0) {
    // 1 MiB in 64 KiB pieces, as a file is hashed.
    static UCHAR piece[64 * 1024];
    UCHAR digest[32] = {}, signature[64] = {};
    ULONG size = 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool hashed = BCryptCreateHash(sha, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    for (int i = 0; hashed && i < 16; ++i) hashed = BCryptHashData(hash, piece, sizeof piece, 0) == 0;
    hashed = hashed && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (hash) BCryptDestroyHash(hash);
    if (hashed && BCryptGenerateKeyPair(ecdsa, &key, 256, 0) == 0 && BCryptFinalizeKeyPair(key, 0) == 0 &&
        BCryptSignHash(key, nullptr, digest, sizeof digest, signature, sizeof signature, &size,
                       0) == 0)
      ok = BCryptVerifySignature(key, nullptr, digest, sizeof digest, signature, size, 0) == 0;
  }
  if (key) BCryptDestroyKey(key);
  if (ecdsa) BCryptCloseAlgorithmProvider(ecdsa, 0);
  if (sha) BCryptCloseAlgorithmProvider(sha, 0);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Stage("entry");
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
  const bool verify = argc > 3 && std::string(argv[3]) == "--verify";
  const std::wstring url(first.begin(), first.end());
  if (!LoadLibraryA("winhttp.dll")) return 1;
  Stage("winhttp loaded");
  bool ok = true;
  for (int i = 0; i < requests; ++i) {
    ok = Fetch(url) && ok;
    Stage(i == 0 ? "first request" : "further request");
  }
  if (verify) {
    ok = Verify() && ok;
    Stage("verified");
  }
  if (ok) std::printf("requests ok\n");
  std::fflush(stdout);
  // Wine keeps as the peak only the largest figure it was asked for: a
  // watcher sampling this process sees its last state in this pause.
  Sleep(100);
  return ok ? 0 : 1;
}
