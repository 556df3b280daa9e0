// The service's one WinHTTP session: opened on the first request and kept
// for the service's life, with one connection handle per host. WinHTTP keeps
// its pool of kept-alive connections per session, so every later request to
// a host goes out on the connection (and the TLS session) of the first one
// instead of a new TCP and TLS handshake each. Shared by the worker threads.
//
// The session asks for the system's proxy settings
// (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY where the system has it, Windows 8.1
// and later; otherwise the user's Internet settings are applied per request)
// and, for HTTPS, for TLS 1.2 and 1.3 (kSecureProtocolChoices).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace download {

// WinHTTP sessions opened in this process by any HttpSession (for tests).
uint32_t SessionsOpened();

class HttpSession {
 public:
  HttpSession() = default;
  ~HttpSession();  // closes the connection handles, then the session
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // The session, opened on the first call; null (and `error` set) when the
  // system gives none.
  HINTERNET Session(DWORD& error);
  // Whether the session picks the proxy itself (else ApplyUserProxy per request).
  bool Automatic();
  // Whether the session took one of kSecureProtocolChoices; HTTPS requests
  // fail without it (`error`: why).
  bool SecureReady(DWORD& error);
  // The connection handle of host:port, made once; null (`error` set) on failure.
  HINTERNET Connection(const std::wstring& host, INTERNET_PORT port, DWORD& error);

 private:
  bool OpenLocked(DWORD& error);

  std::mutex mutex_;
  HINTERNET session_ = nullptr;
  bool automatic_ = false;
  bool secureReady_ = false;
  DWORD secureError_ = 0;
  std::map<std::pair<std::wstring, INTERNET_PORT>, HINTERNET> connections_;
};

}  // namespace download
