// Kind 0: the body into memory, within the cap; tried again after a failure
// in transport.
#include <string>

#include "notice_records.h"
#include "resume_rules.h"
#include "task_run.h"
#include "transfer_rules.h"

namespace download {

namespace {

class MemorySink final : public BodySink {
 public:
  bool OnStart(const ResponseHead& head) override {
    if (head.declared != kUnknownLength) {
      if (!FitsDataLoadCap(head.declared)) return false;
      body_.reserve(static_cast<size_t>(head.declared));
    }
    return true;
  }
  bool OnData(const char* data, size_t size) override {
    if (!FitsDataLoadCap(static_cast<int64_t>(body_.size() + size))) return false;
    body_.append(data, size);
    return true;
  }
  const std::string& Body() const { return body_; }

 private:
  std::string body_;
};

}  // namespace

bool PauseUnlessCancelled(const TaskContext& task, DWORD ms) {
  const DWORD start = GetTickCount();
  while (!*task.cancelled) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return true;
    Sleep(ms - elapsed < 50 ? ms - elapsed : 50);
  }
  return false;
}

void RunDataLoad(const TaskContext& task) {
  // A failure before any answer began is sent again after a pause; a
  // time-out, an answer of the server (any HTTP status, a body cut short)
  // and a load that is sent once are not.
  for (int retry = 0;; ++retry) {
    MemorySink sink;
    const FetchResult result =
        Fetch(*task.http, task.order.url, task.timeouts, *task.cancelled, sink);
    if (result.outcome == FetchOutcome::Cancelled) return;
    if (result.outcome != FetchOutcome::Complete && retry < kLoadRetries &&
        MayRetryLoad(task.order.options.sendOnce, result.broken, result.answered,
                     result.timedOut)) {
      OutputDebugStringA(("Download: data load " + std::to_string(task.id) + " failed (" +
                          result.reason + "), trying again\n").c_str());
      if (!PauseUnlessCancelled(task, LoadRetryPauseMs(retry + 1))) return;
      continue;
    }
    if (result.outcome != FetchOutcome::Complete) {
      OutputDebugStringA(("Download: data load " + std::to_string(task.id) + " failed: " +
                          result.reason + "\n").c_str());
    }
    const bool complete = result.outcome == FetchOutcome::Complete;
    // What became of the request first, then the data.
    const std::string details = MakeRequestDetailsRecord(task.id, result.error, result.status,
                                                         complete ? result.signature : "");
    const std::string record = MakeLoadDataRecord(task.id, complete ? sink.Body() : "");
    task.sendFinal(std::string(), details, kLoadDataNoticeId, record.data(), static_cast<DWORD>(record.size()));
    return;
  }
}

}  // namespace download
