// Kind 1: the body into a temporary file, then over the final name.
#include <string>

#include "file_names.h"
#include "notice_records.h"
#include "scoped_handle.h"
#include "task_run.h"
#include "transfer_rules.h"

namespace download {

namespace {

// Creates the folder and any missing folders above it.
bool MakeFolders(const std::wstring& folder) {
  for (const std::wstring& part : FolderChain(folder)) {
    const std::wstring path = ForFileApi(part);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
      continue;
    }
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return true;
}

class FileSink final : public BodySink {
 public:
  FileSink(const TaskContext& task, std::wstring tempPath)
      : task_(task), tempPath_(std::move(tempPath)), throttle_(kProgressIntervalMs) {}
  ~FileSink() { Discard(); }

  bool OnStart(int64_t declared) override {
    declared_ = declared;
    if (!MakeFolders(task_.order.folder)) {
      Refuse("cannot create the folder");
      return false;
    }
    file_.Set(CreateFileW(ForFileApi(tempPath_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
      Refuse("cannot create the temporary file");
      return false;
    }
    created_ = true;
    Progress(kDownloadStarted);
    return true;
  }

  bool OnData(const char* data, size_t size) override {
    while (size > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
      if (!WriteFile(file_.Get(), data, chunk, &written, nullptr) || written == 0) {
        Refuse("cannot write the temporary file");
        return false;
      }
      data += written;
      size -= written;
      loaded_ += written;
    }
    Progress(kDownloadProgress);
    return true;
  }

  // Moves the whole file over the final name; false (file removed) on failure.
  bool Commit(const std::wstring& finalPath) {
    file_.Close();
    if (!MoveFileExW(ForFileApi(tempPath_).c_str(), ForFileApi(finalPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
      Refuse("cannot move the file to its name");
      return false;
    }
    created_ = false;
    return true;
  }

  // Closes and removes the temporary file if it is still there.
  void Discard() {
    file_.Close();
    if (created_) DeleteFileW(ForFileApi(tempPath_).c_str());
    created_ = false;
  }

  int64_t Loaded() const { return loaded_; }
  int64_t Declared() const { return declared_; }
  const std::string& Reason() const { return reason_; }
  DWORD Error() const { return error_; }

 private:
  void Refuse(const char* what) {
    error_ = GetLastError();
    reason_ = std::string(what) + " (" + std::to_string(error_) + ")";
  }
  void Progress(int32_t status) {
    if (!throttle_.Due(GetTickCount())) return;
    const DownloadNotice notice = MakeDownloadNotice(task_.id, loaded_, declared_, status);
    task_.send(kDownloadNoticeId, &notice, sizeof notice);
  }

  const TaskContext& task_;
  const std::wstring tempPath_;
  ProgressThrottle throttle_;
  ScopedHandle file_;
  bool created_ = false;
  int64_t declared_ = kUnknownLength;
  int64_t loaded_ = 0;
  std::string reason_;
  DWORD error_ = 0;
};

// What became of the request, then the final record.
void SendFinal(const TaskContext& task, int64_t loaded, int64_t total, int32_t status,
               const FetchResult& result, DWORD error) {
  const std::string details = MakeRequestDetailsRecord(
      task.id, error, result.status, status == kDownloadFinished ? result.signature : "");
  const DownloadNotice notice = MakeDownloadNotice(task.id, loaded, total, status);
  task.sendFinal(details, kDownloadNoticeId, &notice, sizeof notice);
}

void Fail(const TaskContext& task, const std::string& reason, int64_t loaded, int64_t total,
          const FetchResult& result, DWORD error) {
  OutputDebugStringA(
      ("Download: file download " + std::to_string(task.id) + " failed: " + reason + "\n").c_str());
  SendFinal(task, loaded, total, kDownloadFailed, result, error);
}

}  // namespace

void RunFileDownload(const TaskContext& task) {
  if (!IsPlainFileName(task.order.name)) {
    Fail(task, "not a plain file name", 0, kUnknownLength, FetchResult(), ERROR_INVALID_NAME);
    return;
  }
  const std::wstring finalPath = JoinPath(task.order.folder, task.order.name);
  FileSink sink(task, JoinPath(task.order.folder,
                               TemporaryName(task.order.name, GetCurrentProcessId(), task.id)));
  const FetchResult result = Fetch(task.order.url, task.timeouts, *task.cancelled, sink);
  if (result.outcome == FetchOutcome::Cancelled) return;  // the sink removes the file
  if (result.outcome != FetchOutcome::Complete) {
    sink.Discard();
    Fail(task, sink.Reason().empty() ? result.reason : sink.Reason(), sink.Loaded(),
         result.declared, result, sink.Error() != 0 ? sink.Error() : result.error);
    return;
  }
  if (*task.cancelled) return;
  if (!sink.Commit(finalPath)) {
    sink.Discard();
    Fail(task, sink.Reason(), sink.Loaded(), result.declared, result, sink.Error());
    return;
  }
  SendFinal(task, sink.Loaded(), sink.Loaded(), kDownloadFinished, result, 0);
}

}  // namespace download
