// Kind 0: the body into memory, within the cap.
#include <string>

#include "notice_records.h"
#include "task_run.h"
#include "transfer_rules.h"

namespace download {

namespace {

class MemorySink final : public BodySink {
 public:
  bool OnStart(int64_t declared) override {
    if (declared != kUnknownLength) {
      if (!FitsDataLoadCap(declared)) return false;
      body_.reserve(static_cast<size_t>(declared));
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

void RunDataLoad(const TaskContext& task) {
  MemorySink sink;
  const FetchResult result = Fetch(task.order.url, task.timeouts, *task.cancelled, sink);
  if (result.outcome == FetchOutcome::Cancelled) return;
  if (result.outcome != FetchOutcome::Complete) {
    OutputDebugStringA(("Download: data load " + std::to_string(task.id) + " failed: " +
                        result.reason + "\n").c_str());
  }
  const bool complete = result.outcome == FetchOutcome::Complete;
  // What became of the request first, then the data.
  const std::string details = MakeRequestDetailsRecord(task.id, result.error, result.status,
                                                       complete ? result.signature : "");
  const std::string record = MakeLoadDataRecord(task.id, complete ? sink.Body() : "");
  task.sendFinal(details, kLoadDataNoticeId, record.data(), static_cast<DWORD>(record.size()));
}

}  // namespace download
