#include "http_session.h"

#include <atomic>

#include "http_fetch.h"

namespace download {

namespace {

constexpr wchar_t kUserAgent[] = L"Lumora-Download/1.0";
std::atomic<uint32_t> g_sessionsOpened{0};

}  // namespace

uint32_t SessionsOpened() { return g_sessionsOpened; }

HttpSession::~HttpSession() {
  for (auto& entry : connections_) WinHttpCloseHandle(entry.second);
  if (session_ != nullptr) WinHttpCloseHandle(session_);
}

bool HttpSession::OpenLocked(DWORD& error) {
  if (session_ != nullptr) return true;
  automatic_ = true;
  session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                         WINHTTP_NO_PROXY_BYPASS, 0);
  if (session_ == nullptr) {
    automatic_ = false;
    session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (session_ == nullptr) {
    error = GetLastError();
    return false;
  }
  ++g_sessionsOpened;
  // The first protocol set the system accepts.
  secureError_ = 0;
  for (DWORD protocols : kSecureProtocolChoices) {
    if (WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
      secureReady_ = true;
      break;
    }
    secureError_ = GetLastError();
  }
  return true;
}

HINTERNET HttpSession::Session(DWORD& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return OpenLocked(error) ? session_ : nullptr;
}

bool HttpSession::Automatic() {
  std::lock_guard<std::mutex> lock(mutex_);
  return automatic_;
}

bool HttpSession::SecureReady(DWORD& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!secureReady_) error = secureError_;
  return secureReady_;
}

HINTERNET HttpSession::Connection(const std::wstring& host, INTERNET_PORT port, DWORD& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!OpenLocked(error)) return nullptr;
  const auto key = std::make_pair(host, port);
  auto it = connections_.find(key);
  if (it != connections_.end()) return it->second;
  HINTERNET connection = WinHttpConnect(session_, host.c_str(), port, 0);
  if (connection == nullptr) {
    error = GetLastError();
    return nullptr;
  }
  connections_.emplace(key, connection);
  return connection;
}

}  // namespace download
