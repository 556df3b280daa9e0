// GET over HTTP(S) as the launcher makes its requests: TLS 1.2 (what Windows 7
// and Wine offer), the certificate checked against the system's roots (or a
// given CA file) and the host name, at most 5 redirects and none from https to
// http. The body is hashed while it arrives; only its start is kept.
#pragma once

#include <map>
#include <string>

namespace site {

struct FetchOptions {
  std::string caFile;              // trusted roots besides the system's
  int timeoutSeconds = 30;         // connecting, and each wait for bytes
  size_t keepBody = 4 << 20;       // bytes of the body kept in `body`
};

struct Response {
  bool ok = false;                 // an answer arrived (any status)
  std::string error;               // why not
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;                // its first keepBody bytes
  long long size = 0;              // bytes of the whole body
  long long contentLength = -1;    // the Content-Length header; -1 without
  std::string sha256;              // of the whole body, 64 lower-case hex digits
  std::string finalUrl;            // after redirects
  // The header's value, "" when absent.
  std::string Header(const std::string& lowerName) const;
};

Response Fetch(const std::string& url, const FetchOptions& options);

}  // namespace site
