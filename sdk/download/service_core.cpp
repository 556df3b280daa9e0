#include "service_core.h"

#include <string>

#include "task_run.h"

namespace download {

ServiceCore::ServiceCore() : changed_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

uint32_t ServiceCore::Submit(const TaskOrder& order, HWND window, const Timeouts& timeouts) {
  if (!changed_) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (ending_) return 0;
  const uint32_t id = nextId_;
  queue_.push_back(Queued{id, order, window, timeouts});
  if (static_cast<int>(queue_.size()) > idle_ && workers_ < kMaxWorkers && !StartWorker() &&
      workers_ == 0) {
    queue_.pop_back();  // no worker would ever run it
    return 0;
  }
  nextId_ = nextId_ == UINT32_MAX ? 1 : nextId_ + 1;
  wake_.notify_one();
  return id;
}

bool ServiceCore::StartWorker() {
  // Each worker holds a reference to this library, so that its last
  // instructions never run in unloaded code, whatever the caller frees.
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&ServiceCore::WorkerEntry), &self)) {
    return false;
  }
  auto* holder = new std::shared_ptr<ServiceCore>(shared_from_this());
  HANDLE thread = CreateThread(nullptr, 0, &ServiceCore::WorkerEntry, holder, 0, nullptr);
  if (thread == nullptr) {
    delete holder;
    FreeLibrary(self);
    return false;
  }
  CloseHandle(thread);
  ++workers_;
  return true;
}

DWORD WINAPI ServiceCore::WorkerEntry(void* param) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ServiceCore::WorkerEntry), &self);
  try {
    std::unique_ptr<std::shared_ptr<ServiceCore>> holder(
        static_cast<std::shared_ptr<ServiceCore>*>(param));
    (*holder)->WorkerLoop();
  } catch (...) {
  }
  FreeLibraryAndExitThread(self, 0);
  return 0;  // not reached
}

void ServiceCore::WorkerLoop() {
  for (;;) {
    Queued task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++idle_;
      wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
      --idle_;
      if (ending_) break;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      Run(task);
    } catch (...) {
      OutputDebugStringA(("Download: task " + std::to_string(task.id) + " stopped\n").c_str());
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --workers_;
  }
  SetEvent(changed_.Get());
}

void ServiceCore::Run(const Queued& queued) {
  TaskContext task;
  task.id = queued.id;
  task.order = queued.order;
  task.timeouts = queued.timeouts;
  task.cancelled = &cancelled_;
  task.http = &http_;
  const HWND window = queued.window;
  task.send = [this, window](ULONG_PTR id, const void* data, DWORD size) {
    return Send(window, id, data, size);
  };
  task.sendFinal = [this, window](const std::string& fileDetails, const std::string& details,
                                  ULONG_PTR id, const void* data, DWORD size) {
    return SendFinal(window, fileDetails, details, id, data, size);
  };
  if (task.order.kind == kTaskLoadData) {
    RunDataLoad(task);
  } else {
    RunFileDownload(task);
  }
}

bool ServiceCore::Send(HWND window, ULONG_PTR id, const void* data, DWORD size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ending_) return false;
    ++sending_;
  }
  Deliver(window, id, data, size);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --sending_;
  }
  SetEvent(changed_.Get());
  return true;
}

bool ServiceCore::SendFinal(HWND window, const std::string& fileDetails,
                            const std::string& details, ULONG_PTR id, const void* data,
                            DWORD size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ending_) return false;
    ++sending_;  // one send under way for all: the end waits for the last
  }
  if (!fileDetails.empty()) {
    Deliver(window, kFileDetailsNoticeId, fileDetails.data(),
            static_cast<DWORD>(fileDetails.size()));
  }
  Deliver(window, kRequestDetailsNoticeId, details.data(), static_cast<DWORD>(details.size()));
  Deliver(window, id, data, size);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --sending_;
  }
  SetEvent(changed_.Get());
  return true;
}

void ServiceCore::Deliver(HWND window, ULONG_PTR id, const void* data, DWORD size) {
  COPYDATASTRUCT copy{};
  copy.dwData = id;
  copy.cbData = size;
  copy.lpData = const_cast<void*>(data);
  SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
}

int ServiceCore::Workers() {
  std::lock_guard<std::mutex> lock(mutex_);
  return workers_;
}

bool ServiceCore::DoneWaiting(DWORD deadline) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sending_ > 0) return false;  // a record on its way must arrive before we return
  return workers_ == 0 || static_cast<LONG>(GetTickCount() - deadline) >= 0;
}

void ServiceCore::Shutdown(DWORD graceMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    cancelled_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  // Called while handling a message another thread sent (one of our records,
  // say): let that sender go on, or it would wait for us while we wait for it.
  if (InSendMessage()) ReplyMessage(0);
  const DWORD deadline = GetTickCount() + graceMs;
  HANDLE changed = changed_.Get();
  while (!DoneWaiting(deadline)) {
    // Records sent to windows of this thread are delivered here.
    MsgWaitForMultipleObjectsEx(1, &changed, 20, QS_SENDMESSAGE, 0);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace download
