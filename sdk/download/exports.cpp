// The exports of Download.dll and the service object behind the interface.
// Nothing may throw across the boundary: every entry catches everything.
#include <atomic>
#include <memory>
#include <mutex>
#include <set>

#include "download_hooks.h"
#include "download_service.h"
#include "http_session.h"
#include "service_core.h"
#include "task_record.h"

namespace {

std::atomic<uint32_t> g_connectMs{0};
std::atomic<uint32_t> g_receiveMs{0};

download::Timeouts CurrentTimeouts() {
  download::Timeouts timeouts;
  if (const uint32_t connect = g_connectMs) timeouts.connectMs = connect;
  if (const uint32_t receive = g_receiveMs) timeouts.receiveMs = receive;
  return timeouts;
}

// The services this library made and that have not been released: the
// export with options takes only one of these.
std::mutex g_servicesLock;
std::set<const IDownloadService*> g_services;

class DownloadService final : public IDownloadService {
 public:
  DownloadService() : core_(std::make_shared<download::ServiceCore>()) {
    std::lock_guard<std::mutex> lock(g_servicesLock);
    g_services.insert(this);
  }

  void LUMORA_STDCALL Release() override {
    {
      std::lock_guard<std::mutex> lock(g_servicesLock);
      g_services.erase(this);
    }
    try {
      core_->Shutdown(download::kReleaseGraceMs);
    } catch (...) {
    }
    delete this;
  }

  uint32_t LUMORA_STDCALL CreateTask(uint32_t kind, const DownloadTaskParams* params,
                                     HWND window) override {
    return Create(kind, params, window, download::TaskOptions());
  }

  uint32_t Create(uint32_t kind, const DownloadTaskParams* params, HWND window,
                  const download::TaskOptions& options) {
    try {
      download::TaskOrder order;
      const bool hasWindow = window != nullptr && IsWindow(window);
      const download::Refusal refusal = download::ReadTask(kind, params, hasWindow, order);
      if (refusal != download::Refusal::None) {
        OutputDebugStringA((std::string("Download: task refused: ") +
                            download::RefusalText(refusal) + "\n").c_str());
        return 0;
      }
      order.options = options;
      return core_->Submit(order, window, CurrentTimeouts());
    } catch (...) {
      return 0;
    }
  }

 private:
  ~DownloadService() = default;
  std::shared_ptr<download::ServiceCore> core_;
};


}  // namespace

extern "C" __declspec(dllexport) IDownloadService* LUMORA_STDCALL
CreateDownloadService(const GUID* iid, uint32_t version) {
  try {
    if (iid == nullptr || !IsEqualGUID(*iid, kDownloadServiceIid) ||
        version != kDownloadServiceVersion) {
      return nullptr;
    }
    return new DownloadService();
  } catch (...) {
    return nullptr;
  }
}

extern "C" __declspec(dllexport) void LUMORA_STDCALL DownloadSetTimeouts(uint32_t connectMs,
                                                                          uint32_t receiveMs) {
  g_connectMs = connectMs;
  g_receiveMs = receiveMs;
}

extern "C" __declspec(dllexport) uint32_t LUMORA_STDCALL DownloadCreateTaskWithOptions(
    IDownloadService* service, uint32_t kind, const DownloadTaskParams* params, HWND window,
    const DownloadTaskOptions* options) {
  try {
    download::TaskOptions read;
    if (!download::ReadTaskOptions(options, read)) return 0;
    // Held while the task is handed over, so the service cannot be released
    // on the way.
    std::lock_guard<std::mutex> lock(g_servicesLock);
    if (g_services.count(service) == 0) return 0;
    return static_cast<DownloadService*>(service)->Create(kind, params, window, read);
  } catch (...) {
    return 0;
  }
}

extern "C" __declspec(dllexport) uint32_t LUMORA_STDCALL DownloadSessionsOpened() {
  return download::SessionsOpened();
}
