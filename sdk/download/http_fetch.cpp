#include "http_fetch.h"

#include <winhttp.h>

#include <vector>

#include "download_service.h"
#include "http_session.h"
#include "proxy_choice.h"
#include "scoped_handle.h"
#include "transfer_rules.h"
#include "url_parts.h"

namespace download {

namespace {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static bool IsValid(Handle h) { return h != nullptr; }
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { WinHttpCloseHandle(h); }
};
using ScopedInternet = GenericScopedHandle<InternetHandleTraits>;

constexpr wchar_t kSignatureHeaderNameW[] = L"X-Lumora-Signature";  // kSignatureHeaderName
constexpr DWORD kReadSize = 256 * 1024;
// WINHTTP_OPTION_IGNORE_CERT_REVOCATION_OFFLINE (Windows 10 and later; older
// systems refuse the option and keep their own rule).
constexpr DWORD kOptionIgnoreRevocationOffline = 155;

// Records a failed step with the system's error.
void Failed(FetchResult& result, const char* step, DWORD error) {
  result.error = error;
  result.reason = std::string(step) + " failed (" + std::to_string(error) + ")" +
                  (IsSecureChannelError(error) ? " [secure channel]" : "");
}

// A failure in transport, which may pass when tried again; a refused secure
// connection will not.
void Broken(FetchResult& result, const char* step, DWORD error) {
  Failed(result, step, error);
  result.broken = !IsSecureChannelError(error);
  result.timedOut = IsTimeoutError(error);
}

// The value of a response header of our own; empty when there is none.
std::string QueryCustomHeader(HINTERNET request, const wchar_t* name) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 256 * 1024)
    return std::string();
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, text.data(), &size,
                           WINHTTP_NO_HEADER_INDEX))
    return std::string();
  std::string value;
  const size_t count = size / sizeof(wchar_t);
  for (size_t i = 0; i < count && value.size() < kMaxSignatureHeaderBytes; ++i)
    value.push_back(text[i] >= 0x20 && text[i] < 0x7F ? static_cast<char>(text[i]) : '?');
  return value;
}

// Takes a string WinHTTP allocated with GlobalAlloc, and frees it.
std::wstring TakeGlobalString(LPWSTR text) {
  std::wstring out = text != nullptr ? text : L"";
  if (text != nullptr) GlobalFree(text);
  return out;
}

bool SetNamedProxy(HINTERNET request, const std::wstring& proxy, const std::wstring& bypass) {
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info.lpszProxy = const_cast<LPWSTR>(proxy.c_str());
  info.lpszProxyBypass = bypass.empty() ? nullptr : const_cast<LPWSTR>(bypass.c_str());
  return WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info) != FALSE;
}

// Where the session could not take the automatic proxy type (before Windows
// 8.1), applies the user's Internet settings to the request.
void ApplyUserProxy(HINTERNET session, HINTERNET request, const std::wstring& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return;
  InternetProxySettings settings;
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.autoConfigUrl = TakeGlobalString(config.lpszAutoConfigUrl);
  settings.proxy = TakeGlobalString(config.lpszProxy);
  settings.bypass = TakeGlobalString(config.lpszProxyBypass);
  const ProxyChoice choice = ChooseProxy(settings);
  if (choice.useAutoProxy) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = choice.autoFlags;
    options.dwAutoDetectFlags = choice.autoDetectFlags;
    options.lpszAutoConfigUrl = choice.autoConfigUrl.empty() ? nullptr : choice.autoConfigUrl.c_str();
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
      const std::wstring proxy = TakeGlobalString(info.lpszProxy);
      const std::wstring bypass = TakeGlobalString(info.lpszProxyBypass);
      if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty()) {
        SetNamedProxy(request, proxy, bypass);
      }
      return;  // the configuration's answer holds, direct included
    }
  }
  if (!choice.proxy.empty()) SetNamedProxy(request, choice.proxy, choice.bypass);
}

bool QueryStatus(HINTERNET request, DWORD& status) {
  DWORD size = sizeof status;
  return WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX) != FALSE;
}

// The Content-Length: true with kUnknownLength when there is none, false when
// it cannot be read.
bool QueryContentLength(HINTERNET request, int64_t& length) {
  length = kUnknownLength;
  wchar_t text[64];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND;
  }
  return ParseContentLength(std::wstring(text, size / sizeof(wchar_t)), length);
}

// A header's value as sent, or empty.
std::wstring QueryText(HINTERNET request, DWORD info) {
  wchar_t text[512];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::wstring();
  }
  return std::wstring(text, size / sizeof(wchar_t));
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

bool IsSecureChannelError(DWORD error) {
  switch (error) {
    case 12157:  // ERROR_WINHTTP_SECURE_CHANNEL_ERROR (every refusal under Wine 8)
    case 12175:  // ERROR_WINHTTP_SECURE_FAILURE
    case 12037:  // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
    case 12038:  // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
    case 12045:  // ERROR_WINHTTP_SECURE_INVALID_CA
    case 12169:  // ERROR_WINHTTP_SECURE_INVALID_CERT
    case 12170:  // ERROR_WINHTTP_SECURE_CERT_REVOKED
    case 12057:  // ERROR_WINHTTP_SECURE_CERT_REV_FAILED
    case 12179:  // ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE
      return true;
    default:
      return false;
  }
}

bool IsTimeoutError(DWORD error) {
  return error == ERROR_WINHTTP_TIMEOUT || error == 10060 /* WSAETIMEDOUT */ ||
         error == ERROR_TIMEOUT || error == WAIT_TIMEOUT;
}

namespace {

// Hears the flags of a refused certificate (Windows reports them through the
// status callback; Wine 8 reports none) into the DWORD the request's context
// points to.
void CALLBACK OnSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                              DWORD length) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context != 0 && info != nullptr &&
      length >= sizeof(DWORD)) {
    *reinterpret_cast<DWORD*>(context) |= *static_cast<const DWORD*>(info);
  }
}

// One request. With `checkRevocation`, a revoked certificate is refused where
// the system can tell; `secureFlags` gathers what the system says about a
// refused certificate.
FetchResult FetchOnce(HttpSession& http, const std::string& url, const Timeouts& timeouts,
                      const std::atomic<bool>& cancelled, BodySink& sink,
                      const std::wstring& headers, bool checkRevocation, DWORD& secureFlags) {
  FetchResult result;
  const std::string escaped = EscapeUrlBytes(url);
  UrlParts parts;
  if (!SplitUrl(escaped, parts)) {
    result.reason = "not an http or https address";
    return result;
  }
  const std::wstring wideUrl(escaped.begin(), escaped.end());

  // One session and one connection handle per host for the service's life:
  // kept-alive connections are used again.
  DWORD error = 0;
  HINTERNET session = http.Session(error);
  if (session == nullptr) {
    Failed(result, "WinHttpOpen", error);
    return result;
  }
  if (parts.secure && !http.SecureReady(error)) {
    Failed(result, "asking for TLS 1.2", error);
    return result;
  }
  HINTERNET connection = http.Connection(parts.host, parts.port, error);
  if (connection == nullptr) {
    Failed(result, "WinHttpConnect", error);
    return result;
  }
  const DWORD flags = WINHTTP_FLAG_REFRESH | (parts.secure ? WINHTTP_FLAG_SECURE : 0);
  ScopedInternet request(WinHttpOpenRequest(connection, L"GET", parts.object.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!request) {
    Failed(result, "WinHttpOpenRequest", GetLastError());
    return result;
  }
  const int connect = static_cast<int>(timeouts.connectMs);
  const int receive = static_cast<int>(timeouts.receiveMs);
  if (!WinHttpSetTimeouts(request.Get(), connect, connect, receive, receive)) {
    Failed(result, "WinHttpSetTimeouts", GetLastError());
    return result;
  }
  // The wait for the response headers is bounded only by this option (the
  // receive time-out of WinHttpSetTimeouts does not cover it everywhere).
  DWORD responseTimeout = timeouts.receiveMs;
  DWORD redirects = kMaxRedirects;
  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                        sizeof responseTimeout) ||
      !WinHttpSetOption(request.Get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                        sizeof redirects) ||
      !WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                        sizeof redirectPolicy)) {
    Failed(result, "WinHttpSetOption", GetLastError());
    return result;
  }
  // A revoked certificate is refused where the system can tell (its
  // revocation lists or OCSP); where the system takes no such option the
  // request goes on with the other checks. Where the system can be told to,
  // a revocation server it cannot reach does not refuse the certificate.
  if (parts.secure && checkRevocation) {
    DWORD feature = WINHTTP_ENABLE_SSL_REVOCATION;
    if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_ENABLE_FEATURE, &feature, sizeof feature)) {
      OutputDebugStringA(("Download: revocation checking not available (" +
                          std::to_string(GetLastError()) + ")\n").c_str());
    }
    DWORD ignoreOffline = TRUE;
    WinHttpSetOption(request.Get(), kOptionIgnoreRevocationOffline, &ignoreOffline,
                     sizeof ignoreOffline);
  }
  if (parts.secure) {
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&secureFlags);
    if (WinHttpSetOption(request.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
      WinHttpSetStatusCallback(request.Get(), OnSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                               0);
    }
  }
  if (!http.Automatic()) ApplyUserProxy(session, request.Get(), wideUrl);

  if (cancelled) {
    result.outcome = FetchOutcome::Cancelled;
    return result;
  }
  if (!WinHttpSendRequest(request.Get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0)) {
    Broken(result, "WinHttpSendRequest", GetLastError());
    return result;
  }
  if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
    Broken(result, "WinHttpReceiveResponse", GetLastError());
    return result;
  }
  result.answered = true;
  if (cancelled) {
    result.outcome = FetchOutcome::Cancelled;
    return result;
  }
  if (!QueryStatus(request.Get(), result.status)) {
    Failed(result, "reading the status", GetLastError());
    return result;
  }
  if (!IsSuccessStatus(result.status)) {
    result.reason = "HTTP status " + std::to_string(result.status);
    return result;
  }
  result.signature = QueryCustomHeader(request.Get(), kSignatureHeaderNameW);
  if (!QueryContentLength(request.Get(), result.declared)) {
    result.reason = "unreadable Content-Length";
    return result;
  }
  ResponseHead head;
  head.status = result.status;
  head.declared = result.declared;
  head.contentRange = QueryText(request.Get(), WINHTTP_QUERY_CONTENT_RANGE);
  head.etag = Narrow(QueryText(request.Get(), WINHTTP_QUERY_ETAG));
  head.lastModified = Narrow(QueryText(request.Get(), WINHTTP_QUERY_LAST_MODIFIED));
  if (!sink.OnStart(head)) {
    result.reason = "the response was refused";
    return result;
  }
  // Reads what has arrived rather than a fixed amount: a read of more than is
  // there waits until the buffer is full (or the time-out), which would hold
  // back progress records and cancelling on a slow connection.
  std::vector<char> buffer(kReadSize);
  for (;;) {
    if (cancelled) {
      result.outcome = FetchOutcome::Cancelled;
      return result;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.Get(), &available)) {
      Broken(result, "WinHttpQueryDataAvailable", GetLastError());
      return result;
    }
    if (available == 0) break;  // the end of the body, or of the connection
    DWORD got = 0;
    if (!WinHttpReadData(request.Get(), buffer.data(), available < kReadSize ? available : kReadSize,
                         &got)) {
      Broken(result, "WinHttpReadData", GetLastError());
      return result;
    }
    if (got == 0) break;
    result.received += got;
    if (!sink.OnData(buffer.data(), got)) {
      result.reason = "the body was refused";
      return result;
    }
  }
  // A connection closed early ends the reads like a normal end.
  if (!BodyComplete(result.received, result.declared)) {
    result.reason = "body ended after " + std::to_string(result.received) + " of " +
                    std::to_string(result.declared) + " bytes";
    result.broken = true;
    return result;
  }
  result.outcome = FetchOutcome::Complete;
  return result;
}

}  // namespace

FetchResult Fetch(HttpSession& http, const std::string& url, const Timeouts& timeouts,
                  const std::atomic<bool>& cancelled, BodySink& sink, const std::wstring& headers) {
  DWORD secureFlags = 0;
  FetchResult result =
      FetchOnce(http, url, timeouts, cancelled, sink, headers, true, secureFlags);
  // A certificate whose only fault is that its revocation could not be
  // checked (no revocation server reachable) is taken, as browsers do: the
  // request goes out again without the check. It failed in the handshake,
  // so the server never saw it. A revoked certificate stays refused.
  if (result.outcome == FetchOutcome::Failed && !result.answered &&
      RevocationOnlyUnchecked(result.error, secureFlags)) {
    OutputDebugStringA("Download: revocation could not be checked, asking again without\n");
    secureFlags = 0;
    result = FetchOnce(http, url, timeouts, cancelled, sink, headers, false, secureFlags);
  }
  return result;
}

}  // namespace download
