// Turning the address text of a task (code page 936 bytes) into what WinHTTP
// needs: plain ASCII with every byte a request line cannot carry escaped, then
// split into scheme, host, port and the object (path and query).
#pragma once

#include <cstdint>
#include <string>

namespace download {

struct UrlParts {
  bool secure = false;  // https
  std::wstring host;    // a name, an IPv4 address or an IPv6 address without brackets
  uint16_t port = 0;    // the given port or the scheme's default
  std::wstring object;  // path and query, always starting with '/'
};

// Escapes as %XX every byte that may not appear in a request line as it is:
// control bytes, space, bytes >= 0x80 (so a code page 936 character travels
// as its own two bytes) and " < > \ ^ ` { | }. Everything else, existing %XX
// escapes included, is kept.
std::string EscapeUrlBytes(const std::string& url);

// Splits an absolute http:// or https:// address (scheme case-insensitive).
// The fragment is dropped. False for another scheme, no host, user
// information ("user@host"), a port that is not a number in 1..65535, or
// bytes that EscapeUrlBytes would have escaped.
bool SplitUrl(const std::string& url, UrlParts& parts);

}  // namespace download
