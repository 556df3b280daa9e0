#include "site_fetch.h"

#include <netdb.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "site_url.h"

namespace site {

std::string Response::Header(const std::string& lowerName) const {
  auto found = headers.find(lowerName);
  return found == headers.end() ? "" : found->second;
}

namespace {

// One connection, plain or TLS.
class Connection {
 public:
  ~Connection() {
    if (ssl_ != nullptr) {
      SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    if (context_ != nullptr) SSL_CTX_free(context_);
    if (socket_ >= 0) close(socket_);
  }

  bool Open(const Url& url, const FetchOptions& options, std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(url.host.c_str(), std::to_string(url.port).c_str(), &hints, &found);
    if (rc != 0) {
      why = "cannot resolve " + url.host + ": " + gai_strerror(rc);
      return false;
    }
    timeval timeout{options.timeoutSeconds, 0};
    std::string lastError = "no address";
    for (addrinfo* a = found; a != nullptr && socket_ < 0; a = a->ai_next) {
      const int s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (s < 0) continue;
      setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
      setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
      if (connect(s, a->ai_addr, a->ai_addrlen) == 0) {
        socket_ = s;
      } else {
        lastError = std::strerror(errno);
        close(s);
      }
    }
    freeaddrinfo(found);
    if (socket_ < 0) {
      why = "cannot connect to " + url.host + ":" + std::to_string(url.port) + ": " + lastError;
      return false;
    }
    return !url.Https() || StartTls(url, options, why);
  }

  bool Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const int n = ssl_ != nullptr
                        ? SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done))
                        : static_cast<int>(send(socket_, bytes.data() + done, bytes.size() - done, 0));
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Bytes read, 0 at the end, -1 on an error or time-out.
  int Read(char* buffer, int size) {
    if (ssl_ == nullptr) return static_cast<int>(recv(socket_, buffer, static_cast<size_t>(size), 0));
    const int n = SSL_read(ssl_, buffer, size);
    if (n > 0) return n;
    return SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }

 private:
  bool StartTls(const Url& url, const FetchOptions& options, std::string& why) {
    context_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(context_);
    if (!options.caFile.empty() &&
        SSL_CTX_load_verify_locations(context_, options.caFile.c_str(), nullptr) != 1) {
      why = "cannot read the CA file " + options.caFile;
      return false;
    }
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, socket_);
    SSL_set_tlsext_host_name(ssl_, url.host.c_str());
    SSL_set1_host(ssl_, url.host.c_str());
    // As WinHTTP under Wine: the host must be one of the certificate's DNS names.
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (SSL_connect(ssl_) != 1) {
      const long verify = SSL_get_verify_result(ssl_);
      char text[256] = {};
      ERR_error_string_n(ERR_get_error(), text, sizeof text);
      why = "TLS with " + url.host + ":" + std::to_string(url.port) + " failed: " +
            (verify != X509_V_OK ? std::string("certificate refused (") +
                                       X509_verify_cert_error_string(verify) + ")"
                                 : std::string(text[0] ? text : "handshake failed")) +
            " (TLS 1.2 as the launcher offers it)";
      return false;
    }
    return true;
  }

  int socket_ = -1;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Reads the body into the response: hashed whole, kept up to the limit.
class BodyReader {
 public:
  BodyReader(Connection& connection, std::string pending, Response& response, size_t keep)
      : connection_(connection), pending_(std::move(pending)), response_(response), keep_(keep),
        hash_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    EVP_DigestInit_ex(hash_.get(), EVP_sha256(), nullptr);
  }

  bool ReadAll(bool chunked, long long length, std::string& why) {
    bool ok = chunked ? Chunked(why) : Plain(length, why);
    unsigned char digest[32];
    unsigned int n = 0;
    EVP_DigestFinal_ex(hash_.get(), digest, &n);
    static const char hex[] = "0123456789abcdef";
    for (unsigned char b : digest) {
      response_.sha256 += hex[b >> 4];
      response_.sha256 += hex[b & 15];
    }
    return ok;
  }

 private:
  void Take(const char* data, size_t size) {
    EVP_DigestUpdate(hash_.get(), data, size);
    response_.size += static_cast<long long>(size);
    if (response_.body.size() < keep_)
      response_.body.append(data, std::min(size, keep_ - response_.body.size()));
  }
  // More bytes into pending_; false at the end or on an error.
  bool Fill() {
    char buffer[65536];
    const int n = connection_.Read(buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
    return true;
  }
  bool Plain(long long length, std::string& why) {
    while (true) {
      if (!pending_.empty()) {
        size_t take = pending_.size();
        if (length >= 0) take = static_cast<size_t>(std::min<long long>(take, length - response_.size));
        Take(pending_.data(), take);
        pending_.erase(0, take);
      }
      if (length >= 0 && response_.size >= length) return true;
      if (!Fill()) {
        if (length < 0) return true;  // the end of the connection is the end of the body
        why = "the transfer ended after " + std::to_string(response_.size) + " of " +
              std::to_string(length) + " bytes";
        return false;
      }
    }
  }
  bool Line(std::string& line) {
    size_t end;
    while ((end = pending_.find("\r\n")) == std::string::npos)
      if (!Fill()) return false;
    line = pending_.substr(0, end);
    pending_.erase(0, end + 2);
    return true;
  }
  bool Chunked(std::string& why) {
    std::string line;
    while (Line(line)) {
      const long long size = std::strtoll(line.c_str(), nullptr, 16);
      if (size <= 0) return true;
      while (static_cast<long long>(pending_.size()) < size + 2)
        if (!Fill()) {
          why = "a chunked transfer ended early";
          return false;
        }
      Take(pending_.data(), static_cast<size_t>(size));
      pending_.erase(0, static_cast<size_t>(size) + 2);
    }
    why = "a chunked transfer ended early";
    return false;
  }

  Connection& connection_;
  std::string pending_;
  Response& response_;
  size_t keep_;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash_;
};

Response FetchOnce(const Url& url, const FetchOptions& options) {
  Response response;
  Connection connection;
  if (!connection.Open(url, options, response.error)) return response;
  const bool defaultPort = url.port == (url.Https() ? 443 : 80);
  std::string request = "GET " + url.path + (url.query.empty() ? "" : "?" + url.query) +
                        " HTTP/1.1\r\nHost: " + url.host +
                        (defaultPort ? "" : ":" + std::to_string(url.port)) +
                        "\r\nUser-Agent: lumora_publish check\r\nAccept-Encoding: identity\r\n"
                        "Connection: close\r\n\r\n";
  if (!connection.Write(request)) {
    response.error = "cannot send the request to " + url.host;
    return response;
  }
  std::string head;
  size_t end;
  char buffer[16384];
  while ((end = head.find("\r\n\r\n")) == std::string::npos) {
    const int n = connection.Read(buffer, sizeof buffer);
    if (n <= 0 || head.size() > (1 << 20)) {
      response.error = "no answer from " + url.host + ":" + std::to_string(url.port);
      return response;
    }
    head.append(buffer, static_cast<size_t>(n));
  }
  std::string pending = head.substr(end + 4);
  head.resize(end);
  size_t lineEnd = head.find("\r\n");
  const std::string statusLine = head.substr(0, lineEnd);
  if (statusLine.compare(0, 5, "HTTP/") != 0 || statusLine.size() < 12) {
    response.error = "not an HTTP answer: " + statusLine;
    return response;
  }
  response.status = std::atoi(statusLine.c_str() + 9);
  while (lineEnd != std::string::npos) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    response.headers[Lower(line.substr(0, colon))] = value;
  }
  const std::string length = response.Header("content-length");
  if (!length.empty()) response.contentLength = std::atoll(length.c_str());
  const bool chunked = Lower(response.Header("transfer-encoding")).find("chunked") != std::string::npos;
  BodyReader reader(connection, pending, response, options.keepBody);
  if (!reader.ReadAll(chunked, chunked ? -1 : response.contentLength, response.error)) return response;
  response.ok = true;
  return response;
}

}  // namespace

Response Fetch(const std::string& address, const FetchOptions& options) {
  std::string current = address;
  for (int hop = 0; hop <= 5; ++hop) {
    Url url;
    std::string why;
    if (!ParseUrl(current, url, why) && url.host.empty()) {
      Response bad;
      bad.error = "not a usable address '" + current + "': " + why;
      return bad;
    }
    Response response = FetchOnce(url, options);
    response.finalUrl = current;
    const bool redirect = response.ok && (response.status == 301 || response.status == 302 ||
                                          response.status == 303 || response.status == 307 ||
                                          response.status == 308);
    if (!redirect) return response;
    std::string next = response.Header("location");
    if (!next.empty() && next[0] == '/') next = url.Origin() + next;
    if (url.Https() && Lower(next).compare(0, 8, "https://") != 0) {
      response.ok = false;
      response.error = "a redirect from https to '" + next + "' (the launcher refuses it)";
      return response;
    }
    current = next;
  }
  Response loop;
  loop.error = "more than 5 redirects from " + address;
  return loop;
}

}  // namespace site
