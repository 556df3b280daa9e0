// lumora_tls_front: the HTTPS side of the loopback operator for the tests, the
// demo and the benchmarks (a native Linux program on OpenSSL; not part of
// the product). It terminates TLS on loopback ports and passes the bytes on,
// unchanged and in both directions, to plain HTTP ports on 127.0.0.1 where
// the test programs' own endpoint (or operator_endpoint.exe) answers. So every
// reply a test can make over HTTP - delays, hangs, cut bodies, signature
// headers - comes the same over HTTPS.
//
//   lumora_tls_front --certs <folder> --control <folder> [--lifetime <s>]
//                    [--crl <port>:<file>] [--latency <ms>]
//                    <tls port>:<plain port> [...]
//
// --crl serves <file> (the test CA's revocation list) over plain HTTP on
// 127.0.0.1:<port> to any GET, where the certificates' CRL distribution
// point names it, so a client that checks revocation can. --latency adds a
// network's round trip of <ms> to each TLS connection's handshake, twice (a
// full TLS 1.2 handshake takes two round trips before the first request);
// the plain endpoint behind adds its own for the connection and each answer.
//
// <certs>/<name>.pem and <name>.key are the certificates it can present
// (localhost, expired, wronghost, untrusted, as scripts/trust-pki.sh makes
// them). Each new connection on a port presents "localhost" unless the file
// <control>/<tls port> names another one (one word), so a test switches the
// certificate of a port without restarting anything. It writes its process
// id to <control>/pid once every port listens, logs each connection to
// <control>/front.log, and ends on SIGTERM, when <control>/stop appears, or
// after --lifetime seconds (3600 by default), so it never outlives a run for
// long.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kCertificateNames[] = {"localhost", "expired", "wronghost", "untrusted"};
constexpr int kHandshakeSeconds = 10;
constexpr int kIdleSeconds = 120;  // a connection quiet this long is closed

std::atomic<bool> g_stop{false};
int g_latencyMs = 0;
std::string g_crl;  // the revocation list's bytes
std::string g_control;
std::mutex g_logLock;
std::map<std::string, SSL_CTX*> g_contexts;

void Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_logLock);
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
  if (FILE* f = std::fopen((g_control + "/front.log").c_str(), "a")) {
    std::fprintf(f, "%s %s\n", stamp, line.c_str());
    std::fclose(f);
  }
}

std::string OpenSslError() {
  char text[256] = "";
  const unsigned long code = ERR_get_error();
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

// The certificate a port presents now.
std::string CertificateFor(int port) {
  std::ifstream in(g_control + "/" + std::to_string(port));
  std::string name;
  if (in >> name && g_contexts.count(name)) return name;
  return "localhost";
}

int Listen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 64) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int ConnectPlain(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  return fd;
}

void SetTimeout(int fd, int seconds) {
  timeval tv{};
  tv.tv_sec = seconds;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void Pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// One request for the revocation list: the list, then the connection closes.
void ServeCrl(int client) {
  SetTimeout(client, kHandshakeSeconds);
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
    const ssize_t n = recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<size_t>(n));
  }
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/pkix-crl\r\n"
                           "Content-Length: " + std::to_string(g_crl.size()) +
                           "\r\nConnection: close\r\n\r\n";
  WriteAll(client, head.data(), head.size());
  WriteAll(client, g_crl.data(), g_crl.size());
  Log("crl: " + request.substr(0, request.find('\r')));
  shutdown(client, SHUT_WR);
  close(client);
}

// One connection: the handshake, then bytes both ways until either side ends.
void Serve(int client, int tlsPort, int plainPort) {
  const std::string name = CertificateFor(tlsPort);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(g_contexts[name]), SSL_free);
  SetTimeout(client, kHandshakeSeconds);
  SSL_set_fd(ssl.get(), client);
  Pause(g_latencyMs);  // the hellos' round trip
  if (SSL_accept(ssl.get()) != 1) {
    // A client that refuses the certificate ends here (an alert, or a close).
    Log(std::to_string(tlsPort) + " " + name + ": handshake refused " + OpenSslError());
    close(client);
    return;
  }
  Pause(g_latencyMs);  // the key exchange's round trip
  Log(std::to_string(tlsPort) + " " + name + ": " + SSL_get_version(ssl.get()) + " accepted");
  SetTimeout(client, kIdleSeconds);
  // The plain side is connected when the request's first bytes arrive, not
  // before: a client may take its time after the handshake (checking the
  // certificate chain under Wine can take a second), and the plain server's
  // wait for a request must not start before the request does.
  int server = -1;
  std::vector<char> buffer(256 * 1024);
  bool open = true;
  long long toServer = 0, toClient = 0;
  std::string ending = "closed";
  while (open && !g_stop) {
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    // Bytes already decrypted inside OpenSSL do not show on the socket.
    const int ready = SSL_pending(ssl.get()) > 0 ? 1 : poll(fds, server < 0 ? 1 : 2, 500);
    if (ready < 0) break;
    if (ready == 0) continue;
    if (SSL_pending(ssl.get()) > 0 || (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      const int n = SSL_read(ssl.get(), buffer.data(), static_cast<int>(buffer.size()));
      if (n <= 0) {
        const int error = SSL_get_error(ssl.get(), n);
        // No application data yet (a record of another kind, an interrupted
        // wait): read again.
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ||
            (error == SSL_ERROR_SYSCALL && errno == EINTR)) {
          ERR_clear_error();
          continue;
        }
        ending = error == SSL_ERROR_ZERO_RETURN ? "client closed"
                                                : "client read ended (" + std::to_string(error) +
                                                      ") " + OpenSslError();
        open = false;
        continue;
      }
      if (server < 0) {
        server = ConnectPlain(plainPort);
        if (server < 0) {
          ending = "nothing listens on " + std::to_string(plainPort);
          break;
        }
        SetTimeout(server, kIdleSeconds);
      }
      if (!WriteAll(server, buffer.data(), static_cast<size_t>(n))) {
        ending = "plain side refused the request";
        open = false;
        continue;
      }
      toServer += n;
    }
    if (server >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = recv(server, buffer.data(), buffer.size(), 0);
      if (n <= 0) {
        ending = "plain side closed";
        open = false;
      } else if (SSL_write(ssl.get(), buffer.data(), static_cast<int>(n)) <= 0) {
        ending = "client stopped reading";
        open = false;
      } else {
        toClient += n;
      }
    }
  }
  Log(std::to_string(tlsPort) + ": " + ending + " after " + std::to_string(toServer) +
      " bytes in, " + std::to_string(toClient) + " bytes out");
  SSL_shutdown(ssl.get());
  if (server >= 0) close(server);
  close(client);
}

bool LoadContexts(const std::string& folder) {
  for (const char* name : kCertificateNames) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) return false;
    // TLS 1.2 and later; the launcher asks for 1.2 (Wine 8 offers no more).
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    const std::string pem = folder + "/" + name + ".pem";
    const std::string key = folder + "/" + name + ".key";
    if (SSL_CTX_use_certificate_chain_file(context, pem.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
      std::fprintf(stderr, "lumora_tls_front: cannot load %s: %s\n", pem.c_str(),
                   OpenSslError().c_str());
      return false;
    }
    g_contexts[name] = context;
  }
  return true;
}

void OnSignal(int) { g_stop = true; }

bool FileExists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string certs;
  long lifetime = 3600;
  std::vector<std::pair<int, int>> ports;
  int crlPort = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--crl" && i + 1 < argc) {
      const std::string value = argv[++i];
      const size_t colon = value.find(':');
      crlPort = std::atoi(value.substr(0, colon).c_str());
      std::ifstream in(colon == std::string::npos ? "" : value.substr(colon + 1), std::ios::binary);
      g_crl.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (crlPort <= 0 || crlPort > 65535 || g_crl.empty()) {
        std::fprintf(stderr, "lumora_tls_front: --crl wants <port>:<file>: %s\n", value.c_str());
        return 2;
      }
    } else if (arg == "--latency" && i + 1 < argc) {
      g_latencyMs = std::atoi(argv[++i]);
    } else if (arg == "--certs" && i + 1 < argc) {
      certs = argv[++i];
    } else if (arg == "--control" && i + 1 < argc) {
      g_control = argv[++i];
    } else if (arg == "--lifetime" && i + 1 < argc) {
      lifetime = std::strtol(argv[++i], nullptr, 10);
    } else {
      int tls = 0, plain = 0;
      if (std::sscanf(arg.c_str(), "%d:%d", &tls, &plain) != 2 || tls <= 0 || tls > 65535 ||
          plain <= 0 || plain > 65535) {
        std::fprintf(stderr, "lumora_tls_front: not a <tls port>:<plain port>: %s\n", arg.c_str());
        return 2;
      }
      ports.emplace_back(tls, plain);
    }
  }
  if (certs.empty() || g_control.empty() || ports.empty() || lifetime <= 0) {
    std::fprintf(stderr,
                 "usage: lumora_tls_front --certs <folder> --control <folder> [--lifetime <s>] "
                 "<tls port>:<plain port>...\n");
    return 2;
  }
  mkdir(g_control.c_str(), 0755);
  std::remove((g_control + "/stop").c_str());
  if (!LoadContexts(certs)) return 3;
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  signal(SIGPIPE, SIG_IGN);

  std::vector<pollfd> listeners;
  for (const auto& mapping : ports) {
    const int fd = Listen(mapping.first);
    if (fd < 0) {
      std::fprintf(stderr, "lumora_tls_front: port %d is taken\n", mapping.first);
      return 4;
    }
    listeners.push_back({fd, POLLIN, 0});
  }
  // The revocation list's port comes last among the listeners.
  if (crlPort > 0) {
    const int fd = Listen(crlPort);
    if (fd < 0) {
      std::fprintf(stderr, "lumora_tls_front: port %d is taken\n", crlPort);
      return 4;
    }
    listeners.push_back({fd, POLLIN, 0});
  }
  {
    std::ofstream pid(g_control + "/pid.new");
    pid << getpid() << "\n";
  }
  std::rename((g_control + "/pid.new").c_str(), (g_control + "/pid").c_str());
  Log("listening");

  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
  while (!g_stop && std::chrono::steady_clock::now() < end &&
         !FileExists(g_control + "/stop")) {
    if (poll(listeners.data(), listeners.size(), 200) <= 0) continue;
    for (size_t i = 0; i < listeners.size(); ++i) {
      if (!(listeners[i].revents & POLLIN)) continue;
      const int client = accept(listeners[i].fd, nullptr, nullptr);
      if (client < 0) continue;
      if (i >= ports.size()) {
        std::thread(ServeCrl, client).detach();
      } else {
        std::thread(Serve, client, ports[i].first, ports[i].second).detach();
      }
    }
  }
  for (const pollfd& listener : listeners) close(listener.fd);
  g_stop = true;
  std::remove((g_control + "/pid").c_str());
  Log("stopped");
  // Connections still open end with the process.
  return 0;
}
