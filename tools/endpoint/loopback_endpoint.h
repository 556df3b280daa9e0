// A loopback HTTP endpoint for tests and benchmarks (not part of the product):
// started in-process on 127.0.0.1, it answers each path with a canned reply
// or a reply decided per request, and keeps a log of the requests it got.
// Replies can be delayed, never sent, cut short mid-body, announce more
// bytes than they send, redirect, come chunked or slowly, end the connection
// without an answer, or stream a file of any size from disk (read as it is
// sent, never held in memory). Unknown paths answer 404.
//
// Connections are kept alive as a real server keeps them (up to 100
// requests, 15 s idle), and an added latency stands for a network's round
// trip: once when a connection is made, once for each answer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace endpoint {

struct Reply {
  int status = 200;
  std::string body;                     // sent as is
  std::string file;                     // when set: stream this file's bytes instead of body
  std::string contentType = "application/octet-stream";
  int delayMs = 0;                      // wait before answering
  bool hang = false;                    // accept, never answer (until Stop)
  bool endConnection = false;           // the request arrives, then the connection ends
                                        // without an answer (as a reset does)
  int64_t dropAfterBytes = -1;          // close the connection after this many body bytes
  int64_t declaredLength = -1;          // announce this Content-Length (a body shorter than it)
  std::string redirectTo;               // answer 302 with this Location
  bool chunked = false;                 // no Content-Length: chunked transfer encoding
  int64_t bytesPerSecond = 0;           // pace the body at about this rate (0: at full speed)
  // Byte ranges: with `ranges`, a request "Range: bytes=N-" (or N-M) of a
  // 200 reply is answered 206 with the rest from N and "Content-Range", or
  // 416 from the end on; an "If-Range" other than `etag` gets the whole
  // reply. Without it a Range header is ignored (200, the whole body).
  bool ranges = false;
  std::string etag;                     // sent as "ETag" when set
  std::vector<std::pair<std::string, std::string>> headers;  // further response headers
};

struct Request {
  std::string method, path, query;      // query: the raw text after '?', undecoded
  std::map<std::string, std::string> params;  // query parameters, decoded
  std::string range, ifRange;           // the "Range" and "If-Range" headers, empty when none
  std::string host;                     // the Host header (which address the client asked)
  DWORD tick = 0;                       // GetTickCount() when it arrived
};

class LoopbackEndpoint {
 public:
  LoopbackEndpoint();
  ~LoopbackEndpoint();  // stops it
  LoopbackEndpoint(const LoopbackEndpoint&) = delete;
  LoopbackEndpoint& operator=(const LoopbackEndpoint&) = delete;

  // Listens on 127.0.0.1:`port` (0: a free port). False when the port is
  // taken (PortInUse says by whom), or when it already runs.
  bool Start(uint16_t port = 0);
  // Stops listening, wakes hanging and delayed replies, ends streams and
  // waits for every connection to close. Routes and the log stay.
  void Stop();
  uint16_t Port() const;
  // "http://127.0.0.1:<port>" + pathAndQuery.
  std::string Url(const std::string& pathAndQuery) const;

  // The reply for a path (the query does not count); replaces an earlier one.
  void Route(const std::string& path, Reply reply);
  void Route(const std::string& path, std::function<Reply(const Request&)> decide);

  std::vector<Request> Requests() const;  // in arrival order
  std::vector<Request> Requests(const std::string& path) const;
  // Waits until `path` got at least `count` requests; false on time-out.
  bool WaitForRequests(const std::string& path, size_t count, DWORD timeoutMs) const;
  // Connections being answered right now (a hanging reply counts).
  int ActiveReplies() const;
  // Body bytes written to connections since the start.
  uint64_t BytesSent() const;
  // When the last byte of the latest streamed body (a file, a paced or
  // chunked reply) was written to its connection, in FILETIME units (UTC);
  // 0 before any.
  uint64_t LastBodyEnd() const;
  // Connections accepted since the start (a client that keeps its
  // connection alive makes one for many requests).
  int Connections() const;
  // An added round trip of `ms` (0: none): when each connection is made, and
  // before each answer. For replies already under way it counts from their
  // next connection or answer.
  void SetLatency(int ms);

  struct State;  // the implementation's

 private:
  std::shared_ptr<State> state_;
};

// "port <port> on 127.0.0.1 is in use by <program>, process <id>" (or "by
// another program" when the system does not tell): why Start failed.
std::string PortInUse(uint16_t port);

}  // namespace endpoint
