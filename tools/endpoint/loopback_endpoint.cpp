// The endpoint on cpp-httplib: one handler for every path and method looks
// the path up in the routes and carries the reply out.
#include "httplib.h"  // first: it brings winsock2.h before windows.h

#include "loopback_endpoint.h"

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace endpoint {

namespace {

constexpr size_t kStreamChunk = 1024 * 1024;
// One thread per connection: enough for kept-alive connections of several
// clients beside the ones being answered.
constexpr size_t kServerThreads = 64;
constexpr size_t kKeepAliveRequests = 100;
constexpr time_t kKeepAliveSeconds = 15;

// The connection the calling thread serves (set while it is being served).
thread_local socket_t t_connection = INVALID_SOCKET;

// Where the bytes of a reply come from: the body or a file, read in order.
class ReplySource {
 public:
  explicit ReplySource(const Reply& reply) : body_(reply.body) {
    if (!reply.file.empty()) {
      file_ = CreateFileA(reply.file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
      LARGE_INTEGER size{};
      if (file_ != INVALID_HANDLE_VALUE && GetFileSizeEx(file_, &size)) {
        size_ = static_cast<uint64_t>(size.QuadPart);
      }
      fromFile_ = true;
    } else {
      size_ = body_.size();
    }
  }
  ~ReplySource() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  ReplySource(const ReplySource&) = delete;
  ReplySource& operator=(const ReplySource&) = delete;

  bool Ok() const { return !fromFile_ || file_ != INVALID_HANDLE_VALUE; }
  uint64_t Size() const { return size_; }

  // Reads from `from` on: offsets of Read then count from there.
  bool Skip(uint64_t from) {
    base_ = from;
    if (!fromFile_) return true;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(from);
    return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != FALSE;
  }

  // Reads up to `want` bytes at `offset` (offsets only grow).
  bool Read(uint64_t offset, size_t want, std::string& out) {
    if (!fromFile_) {
      out.assign(body_, static_cast<size_t>(base_ + offset), want);
      return true;
    }
    out.resize(want);
    DWORD got = 0;
    if (!ReadFile(file_, &out[0], static_cast<DWORD>(want), &got, nullptr)) return false;
    out.resize(got);
    return got > 0;
  }

 private:
  std::string body_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool fromFile_ = false;
  uint64_t size_ = 0;
  uint64_t base_ = 0;
};

// "bytes=<first>-" or "bytes=<first>-<last>": one range; false for others.
bool ParseRangeRequest(const std::string& text, uint64_t& first, uint64_t& last) {
  if (text.compare(0, 6, "bytes=") != 0) return false;
  const size_t dash = text.find('-', 6);
  if (dash == std::string::npos || dash == 6 || text.find(',') != std::string::npos) return false;
  char* end = nullptr;
  first = std::strtoull(text.c_str() + 6, &end, 10);
  if (end != text.c_str() + dash) return false;
  if (dash + 1 == text.size()) {
    last = UINT64_MAX;
    return true;
  }
  last = std::strtoull(text.c_str() + dash + 1, &end, 10);
  return *end == '\0' && last >= first;
}

}  // namespace

struct LoopbackEndpoint::State {
  mutable std::mutex mutex;
  mutable std::condition_variable logged;
  std::map<std::string, std::function<Reply(const Request&)>> routes;
  std::vector<Request> log;

  std::unique_ptr<httplib::Server> server;
  std::thread listener;
  uint16_t port = 0;
  HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> stopping{false};
  std::atomic<int> active{0};
  std::atomic<uint64_t> bytesSent{0};
  std::atomic<int> connections{0};
  std::atomic<int> latencyMs{0};
  std::atomic<uint64_t> lastBodyEnd{0};

  ~State() {
    if (stopEvent != nullptr) CloseHandle(stopEvent);
  }

  // Waits `ms` (INFINITE: until Stop); false when Stop came first.
  bool Pause(DWORD ms) { return WaitForSingleObject(stopEvent, ms) == WAIT_TIMEOUT; }

  void Handle(const httplib::Request& in, httplib::Response& out);
};

namespace {

// The server, counting its connections and delaying each by the latency.
// It serves a connection as the library does, except that a connection
// waiting for its next request ends as soon as the endpoint stops (the
// library's own wait lasts its whole keep-alive time).
class CountingServer final : public httplib::Server {
 public:
  explicit CountingServer(LoopbackEndpoint::State* state) : state_(state) {}

 private:
  bool process_and_close_socket(socket_t sock) override {
    ++state_->connections;
    if (const int ms = state_->latencyMs) state_->Pause(static_cast<DWORD>(ms));
    t_connection = sock;
    bool ok = false;
    for (size_t count = keep_alive_max_count_; count > 0 && NextRequestComes(sock); --count) {
      httplib::detail::SocketStream stream(sock, read_timeout_sec_, read_timeout_usec_,
                                           write_timeout_sec_, write_timeout_usec_);
      bool closed = false;
      ok = process_request(stream, count == 1 || state_->stopping, closed, nullptr);
      if (!ok || closed) break;
    }
    t_connection = INVALID_SOCKET;
    httplib::detail::shutdown_socket(sock);
    httplib::detail::close_socket(sock);
    return ok;
  }

  // Whether a request arrives before the keep-alive time ends or the
  // endpoint stops.
  bool NextRequestComes(socket_t sock) const {
    const DWORD start = GetTickCount();
    while (!state_->stopping) {
      const ssize_t ready = httplib::detail::select_read(sock, 0, 10000);
      if (ready < 0) return false;
      if (ready > 0) return true;
      if (GetTickCount() - start > static_cast<DWORD>(keep_alive_timeout_sec_) * 1000) return false;
    }
    return false;
  }

  LoopbackEndpoint::State* state_;
};

}  // namespace

void LoopbackEndpoint::State::Handle(const httplib::Request& in, httplib::Response& out) {
  // Counts this reply as active until the handler returns or, for a
  // streamed body, until the stream that holds a copy of it ends.
  struct Active {
    std::atomic<int>& count;
    explicit Active(std::atomic<int>& c) : count(c) { ++count; }
    ~Active() { --count; }
  };
  auto activeGuard = std::make_shared<Active>(active);

  Request request;
  request.method = in.method;
  request.path = in.path;
  const size_t question = in.target.find('?');
  if (question != std::string::npos) request.query = in.target.substr(question + 1);
  for (const auto& param : in.params) request.params.emplace(param.first, param.second);
  request.range = in.get_header_value("Range");
  request.ifRange = in.get_header_value("If-Range");
  request.tick = GetTickCount();
  // Ranges are the reply's to decide, not the server library's.
  const_cast<httplib::Request&>(in).ranges.clear();
  request.host = in.get_header_value("Host");

  std::function<Reply(const Request&)> decide;
  {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(request);
    auto it = routes.find(request.path);
    if (it != routes.end()) decide = it->second;
  }
  logged.notify_all();

  Reply reply;
  if (!decide) {
    reply.status = 404;
    reply.body = "not found";
    reply.contentType = "text/plain";
  } else {
    try {
      reply = decide(request);
    } catch (...) {
      reply = Reply();
      reply.status = 500;
      reply.body = "the route failed";
    }
  }

  if (reply.endConnection && t_connection != INVALID_SOCKET) {
    // No answer: the connection ends (abortively, with a reset) once the
    // server library gives up writing to it.
    linger abort{};
    abort.l_onoff = 1;
    abort.l_linger = 0;
    setsockopt(t_connection, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
               sizeof abort);
    shutdown(t_connection, SD_BOTH);
    out.status = 500;
    return;
  }
  const int delay = reply.delayMs + latencyMs;
  if (delay > 0 && !Pause(static_cast<DWORD>(delay))) reply.hang = true;
  if (reply.hang) {
    Pause(INFINITE);
    // Stopping: the client gets a header and a connection closed before
    // the one byte announced.
    out.status = 503;
    out.set_content_provider(1, "text/plain", [](size_t, size_t, httplib::DataSink&) { return false; });
    return;
  }
  if (!reply.redirectTo.empty()) {
    out.status = 302;
    out.set_header("Location", reply.redirectTo);
    out.set_content("", "text/plain");
    return;
  }
  out.status = reply.status;
  if (!reply.etag.empty()) out.set_header("ETag", reply.etag);
  for (const auto& header : reply.headers) out.set_header(header.first.c_str(), header.second);
  auto source = std::make_shared<ReplySource>(reply);
  if (!source->Ok()) {
    out.status = 500;
    out.set_content("cannot open " + reply.file, "text/plain");
    return;
  }
  uint64_t size = source->Size();
  uint64_t first = 0, last = 0;
  if (reply.ranges && reply.status == 200) out.set_header("Accept-Ranges", "bytes");
  if (reply.ranges && reply.status == 200 && ParseRangeRequest(request.range, first, last) &&
      (request.ifRange.empty() || request.ifRange == reply.etag)) {
    const uint64_t whole = size;
    if (first >= whole) {
      out.status = 416;
      out.set_header("Content-Range", "bytes */" + std::to_string(whole));
      out.set_content("", "text/plain");
      return;
    }
    last = std::min(last, whole - 1);
    out.status = 206;
    out.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                        std::to_string(last) + "/" + std::to_string(whole));
    if (!source->Skip(first)) {
      out.status = 500;
      out.set_content("cannot seek", "text/plain");
      return;
    }
    size = last - first + 1;
    if (reply.file.empty()) {
      reply.body = reply.body.substr(static_cast<size_t>(first), static_cast<size_t>(size));
      source = std::make_shared<ReplySource>(reply);
    }
  }
  const uint64_t declared = reply.declaredLength >= 0 ? static_cast<uint64_t>(reply.declaredLength) : size;
  uint64_t sendable = std::min(size, declared);
  if (reply.dropAfterBytes >= 0) sendable = std::min(sendable, static_cast<uint64_t>(reply.dropAfterBytes));
  const bool plain = reply.file.empty() && !reply.chunked && reply.bytesPerSecond <= 0 &&
                     sendable == declared && declared == size;
  if (plain) {
    out.set_content(reply.body, reply.contentType.c_str());
    bytesSent += reply.body.size();
    return;
  }
  // Paced replies go in tenths of a second's worth of bytes.
  const int64_t rate = reply.bytesPerSecond;
  const size_t chunkSize =
      rate > 0 ? static_cast<size_t>(std::max<int64_t>(1, std::min<int64_t>(rate / 10, kStreamChunk)))
               : kStreamChunk;
  const DWORD started = GetTickCount();
  // Writes the next chunk at `offset`; false ends the connection.
  auto writeNext = [this, source, sendable, chunkSize, rate, started, activeGuard](
                       size_t offset, size_t length, httplib::DataSink& sink) {
    if (stopping || offset >= sendable) return false;
    if (rate > 0) {
      const int64_t due = static_cast<int64_t>(offset) * 1000 / rate;
      const int64_t elapsed = static_cast<int64_t>(GetTickCount() - started);
      if (due > elapsed && !Pause(static_cast<DWORD>(due - elapsed))) return false;
    }
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>({static_cast<uint64_t>(length), chunkSize, sendable - offset}));
    std::string chunk;
    if (!source->Read(offset, want, chunk)) return false;
    if (!sink.write(chunk.data(), chunk.size())) return false;
    bytesSent += chunk.size();
    if (offset + chunk.size() >= sendable) {
      FILETIME now{};
      GetSystemTimeAsFileTime(&now);
      lastBodyEnd = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    }
    return true;
  };
  if (reply.chunked) {
    out.set_chunked_content_provider(
        reply.contentType.c_str(),
        [writeNext, sendable, declared](size_t offset, httplib::DataSink& sink) {
          if (offset >= declared) {
            sink.done();
            return true;
          }
          return writeNext(offset, static_cast<size_t>(declared - offset), sink);
        });
    return;
  }
  out.set_content_provider(static_cast<size_t>(declared), reply.contentType.c_str(), writeNext);
}

LoopbackEndpoint::LoopbackEndpoint() : state_(std::make_shared<State>()) {}

LoopbackEndpoint::~LoopbackEndpoint() { Stop(); }

bool LoopbackEndpoint::Start(uint16_t port) {
  if (state_->server) return false;
  std::unique_ptr<httplib::Server> server(new CountingServer(state_.get()));
  server->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  // Kept alive as a real server does; Stop ends idle connections at once.
  server->set_keep_alive_max_count(kKeepAliveRequests);
  server->set_keep_alive_timeout(kKeepAliveSeconds);
  server->set_read_timeout(2, 0);
  server->set_write_timeout(2, 0);
  State* state = state_.get();
  const auto handler = [state](const httplib::Request& in, httplib::Response& out) {
    state->Handle(in, out);
  };
  server->Get(".*", handler);
  server->Post(".*", handler);
  server->Put(".*", handler);
  server->Delete(".*", handler);
  int bound = 0;
  if (port == 0) {
    bound = server->bind_to_any_port("127.0.0.1");
  } else {
    bound = server->bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (bound <= 0) return false;
  ResetEvent(state_->stopEvent);
  state_->stopping = false;
  state_->port = static_cast<uint16_t>(bound);
  httplib::Server* raw = server.get();
  state_->server = std::move(server);
  state_->listener = std::thread([raw] { raw->listen_after_bind(); });
  // Stop only reaches a server whose loop runs: wait for it.
  for (int i = 0; i < 5000 && !raw->is_running(); ++i) Sleep(1);
  return true;
}

void LoopbackEndpoint::Stop() {
  if (!state_->server) return;
  state_->stopping = true;
  SetEvent(state_->stopEvent);
  state_->server->stop();
  if (state_->listener.joinable()) state_->listener.join();  // after every connection ended
  state_->server.reset();
}

uint16_t LoopbackEndpoint::Port() const { return state_->port; }

std::string LoopbackEndpoint::Url(const std::string& pathAndQuery) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + pathAndQuery;
}

void LoopbackEndpoint::Route(const std::string& path, Reply reply) {
  Route(path, [reply](const Request&) { return reply; });
}

void LoopbackEndpoint::Route(const std::string& path, std::function<Reply(const Request&)> decide) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->routes[path] = std::move(decide);
}

std::vector<Request> LoopbackEndpoint::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->log;
}

std::vector<Request> LoopbackEndpoint::Requests(const std::string& path) const {
  std::vector<Request> out;
  std::lock_guard<std::mutex> lock(state_->mutex);
  for (const Request& r : state_->log)
    if (r.path == path) out.push_back(r);
  return out;
}

bool LoopbackEndpoint::WaitForRequests(const std::string& path, size_t count, DWORD timeoutMs) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  const auto enough = [&] {
    size_t n = 0;
    for (const Request& r : state_->log)
      if (r.path == path) ++n;
    return n >= count;
  };
  return state_->logged.wait_for(lock, std::chrono::milliseconds(timeoutMs), enough);
}

int LoopbackEndpoint::ActiveReplies() const { return state_->active; }

uint64_t LoopbackEndpoint::BytesSent() const { return state_->bytesSent; }

int LoopbackEndpoint::Connections() const { return state_->connections; }

uint64_t LoopbackEndpoint::LastBodyEnd() const { return state_->lastBodyEnd; }

void LoopbackEndpoint::SetLatency(int ms) { state_->latencyMs = ms > 0 ? ms : 0; }

}  // namespace endpoint
