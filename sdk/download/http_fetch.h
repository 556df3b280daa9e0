// One HTTP(S) GET over WinHTTP, synchronous, on the calling thread, through
// the service's session: the system's proxy settings, connect and receive
// time-outs, a bounded number of redirects, and the body handed to a sink as
// it arrives.
//
// HTTPS keeps every certificate check of the system (no SECURITY_FLAG_IGNORE
// anything, anywhere) and asks for TLS 1.2 (and 1.3 where the system knows
// it) explicitly: Windows 7's WinHTTP offers TLS 1.2 only when asked, and
// TLS 1.0 and 1.1 are not offered at all. A redirect from https to http is
// refused.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace download {

struct Timeouts {
  DWORD connectMs = 10000;  // name resolution and connecting
  DWORD receiveMs = 30000;  // waiting for the headers and for each part of the body
};

// Redirects followed before a request fails.
constexpr DWORD kMaxRedirects = 5;

// What a successful response's headers say.
struct ResponseHead {
  DWORD status = 0;
  int64_t declared = -1;       // Content-Length, or -1 (kUnknownLength)
  std::wstring contentRange;   // "Content-Range", empty when none
  std::string etag;            // "ETag" and "Last-Modified", as sent
  std::string lastModified;
};

// Receives a successful response (status 2xx). Returning false from either
// call stops the transfer, which then fails.
class BodySink {
 public:
  virtual bool OnStart(const ResponseHead& head) = 0;
  virtual bool OnData(const char* data, size_t size) = 0;

 protected:
  ~BodySink() = default;
};

enum class FetchOutcome {
  Complete,   // a 2xx status and the whole body went to the sink
  Failed,     // no connection, time-out, a non-2xx status, a short body, the sink refused
  Cancelled,  // `cancelled` became true on the way
};

struct FetchResult {
  FetchOutcome outcome = FetchOutcome::Failed;
  DWORD status = 0;           // the HTTP status, 0 when none arrived
  int64_t declared = -1;      // Content-Length, or -1
  int64_t received = 0;       // body bytes handed to the sink
  // Failed in transport: no answer at all (no connection, a time-out), or the
  // body broke off (a reset, an early end, a time-out while reading). Not an
  // HTTP status, not a refusal of the sink, not a bad address.
  bool broken = false;
  bool answered = false;      // the response headers arrived (the server took the request)
  bool timedOut = false;      // it failed by a time-out
  DWORD error = 0;            // the system error of a failed step, 0 when none (a refused TLS
                              // connection reads 12157 under Wine, 12157 or 12175 on Windows)
  std::string signature;      // the value of the X-Lumora-Signature header of a 2xx answer
  std::string reason;         // what failed, for the debugger output
};

// The protocol sets asked for on an HTTPS session, in order: the first one
// the system accepts is used; when it takes none, the request fails.
constexpr DWORD kSecureProtocolTls12 = 0x00000800;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2
constexpr DWORD kSecureProtocolTls13 = 0x00002000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
constexpr DWORD kSecureProtocolChoices[] = {kSecureProtocolTls12 | kSecureProtocolTls13,
                                            kSecureProtocolTls12};

// True for the system errors of a refused secure connection (a certificate
// that is untrusted, expired, for another name, revoked where the system can
// tell, or a failed handshake); they are failures like any other, named so
// in the logs.
bool IsSecureChannelError(DWORD error);

// True for the system errors of a time-out (12002, or the Winsock 10060 that
// Wine gives).
bool IsTimeoutError(DWORD error);

class HttpSession;

// GETs `url` (code page 936 bytes; escaped as needed), with `headers`
// ("Name: value\r\n" lines) added to the request. `cancelled` is read
// between the steps and between reads of the body.
// The request goes out through `session` (http_session.h).
FetchResult Fetch(HttpSession& session, const std::string& url, const Timeouts& timeouts,
                  const std::atomic<bool>& cancelled, BodySink& sink,
                  const std::wstring& headers = std::wstring());

}  // namespace download
