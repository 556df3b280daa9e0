// The shared state of one download service: the task queue, the worker
// threads that run tasks, and the end of the service.
//
// Workers: at most kMaxWorkers threads, started as tasks arrive and kept until
// the service ends; further tasks wait in order. The launcher runs only a few
// tasks at a time (a configuration load, statistics, a package or two), so a
// small pool bounds threads and connections without refusing work.
//
// Records are sent with SendMessage: WM_COPYDATA is only valid while the
// receiver handles it, so a worker waits for the window's thread. The end of
// the service therefore:
//   1. stops new sends (a worker checks before each send) and cancels tasks;
//   2. waits, while dispatching messages sent to its own thread, until no
//      send is under way and the workers have ended, or a short grace time has
//      passed. A record sent to a window of the releasing thread is delivered
//      during the wait, never after it.
// Workers still blocked inside WinHTTP after the grace time (a server that
// never answers cannot be interrupted everywhere) are left to end on their
// own time-out: they own a reference to the shared state and to this library
// (released with FreeLibraryAndExitThread), never send again, and remove
// their temporary files.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "http_fetch.h"
#include "http_session.h"
#include "scoped_handle.h"
#include "task_record.h"

namespace download {

constexpr int kMaxWorkers = 4;
// How long the end of the service waits for workers to finish.
constexpr DWORD kReleaseGraceMs = 500;

class ServiceCore : public std::enable_shared_from_this<ServiceCore> {
 public:
  ServiceCore();
  ServiceCore(const ServiceCore&) = delete;
  ServiceCore& operator=(const ServiceCore&) = delete;

  // Queues a task and makes sure a worker will run it; its id, or 0 when the
  // service is ending or no worker could be started.
  uint32_t Submit(const TaskOrder& order, HWND window, const Timeouts& timeouts);

  // Ends the service as described above.
  void Shutdown(DWORD graceMs);

  // Workers still running (for tests).
  int Workers();

 private:
  struct Queued {
    uint32_t id;
    TaskOrder order;
    HWND window;
    Timeouts timeouts;
  };

  static DWORD WINAPI WorkerEntry(void* param);
  bool StartWorker();  // with mutex_ held
  void WorkerLoop();
  void Run(const Queued& task);
  bool Send(HWND window, ULONG_PTR id, const void* data, DWORD size);
  // The records that end a task, all or none (see TaskContext::sendFinal).
  bool SendFinal(HWND window, const std::string& fileDetails, const std::string& details,
                 ULONG_PTR id, const void* data, DWORD size);
  void Deliver(HWND window, ULONG_PTR id, const void* data, DWORD size);
  bool DoneWaiting(DWORD deadline);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Queued> queue_;
  int workers_ = 0;
  int idle_ = 0;
  int sending_ = 0;
  bool ending_ = false;
  std::atomic<bool> cancelled_{false};
  uint32_t nextId_ = 1;
  ScopedHandle changed_;  // set whenever a send or a worker ends
  // One WinHTTP session for the service's life (kept-alive connections);
  // it goes with the last worker that holds the service.
  HttpSession http_;
};

}  // namespace download
