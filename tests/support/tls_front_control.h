// The HTTPS side of the loopback operator, as the tests see it: the native
// TLS front (scripts/tls-front.sh, a CTest fixture) serves
// https://localhost:18443 in front of the plain port 18090 and
// https://localhost:19443 in front of 9090. A test switches the certificate a
// port presents by writing its name into the front's control folder.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

constexpr uint16_t kTlsConfigPort = 18443;      // -> 18090
constexpr uint16_t kTlsStatisticsPort = 19443;  // -> 9090

enum class ServerCertificate { Good, Expired, WrongHost, Untrusted };

class TlsFront {
 public:
  TlsFront() = default;
  ~TlsFront();  // every port presents the good certificate again
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  // True when the front runs (its pid file exists).
  static bool Running();
  // The certificate `port` presents to the next connections.
  bool Present(uint16_t port, ServerCertificate certificate);
  // "https://localhost:<port>" + pathAndQuery.
  static std::string Url(uint16_t port, const std::string& pathAndQuery);
  // The front's log ("front.log"): one line per connection.
  static std::string Log();
  // TLS connections `port` accepted in a part of that log.
  static size_t Accepted(const std::string& logPart, uint16_t port);

 private:
  bool changed_ = false;
};

}  // namespace testing_support
