// Kind 1: the body into a partial file, carried on where it stopped when the
// connection breaks (in this task or in a later one), then over the final
// name. When the task asks for it, the file's SHA-256 is taken as its bytes
// are written (those of an earlier start when it carries them on), and the
// file is handed over held: renamed while still open, then open for reading
// only, denying writing and deletion, so what the client runs is what was
// hashed.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bcrypt_trust.h"
#include "file_names.h"
#include "notice_records.h"
#include "resume_rules.h"
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

// Why a task failed, with the system error when there is one.
struct Problem {
  std::string reason;
  DWORD error = 0;
};

Problem WithError(const char* what) {
  const DWORD error = GetLastError();
  return Problem{std::string(what) + " (" + std::to_string(error) + ")", error};
}

bool ReadSmallFile(const std::wstring& path, std::string& bytes) {
  ScopedHandle file(CreateFileW(ForFileApi(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[4096];
  DWORD got = 0;
  if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) return false;
  bytes.assign(buffer, got);
  return true;
}

// Partial files of this name for other addresses (or from before), which no
// task holds open: they can never be carried on.
void RemoveStaleParts(const std::wstring& folder, const std::wstring& name,
                      const std::wstring& ours) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = JoinPath(folder, name + L".*.part");
  HANDLE find = FindFirstFileW(ForFileApi(pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring path = JoinPath(folder, found.cFileName);
    if (found.cFileName == ours || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (DeleteFileW(ForFileApi(path).c_str())) DeleteFileW(ForFileApi(PartInfoName(path)).c_str());
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// Whether two looks at a file see the same file with the same bytes: the
// same volume and file index, size and last write time.
bool SameFileUnchanged(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow &&
         a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
         CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

// The partial file of one task, held open for this task alone (reading and
// writing; others may only read it, never write, rename or delete it), its
// description beside it, and the SHA-256 of what it holds when asked for.
class PartFile {
 public:
  ~PartFile() {
    file_.Close();
    held_.Close();
  }

  // Opens (or creates) the address's partial file. When another task holds
  // it, a file of this task's own is used, which is not kept for later.
  bool Open(const TaskContext& task, Problem& reason) {
    const std::wstring& folder = task.order.folder;
    const std::wstring shared = PartName(task.order.name, task.order.url);
    const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
    path_ = JoinPath(folder, shared);
    file_.Set(CreateFileW(ForFileApi(path_).c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_ && GetLastError() == ERROR_SHARING_VIOLATION) {
      keepable_ = false;
      path_ = JoinPath(folder, TemporaryName(task.order.name, GetCurrentProcessId(), task.id));
      file_.Set(CreateFileW(ForFileApi(path_).c_str(), access, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!file_) {
      reason = WithError("cannot create the partial file");
      return false;
    }
    if (keepable_) RemoveStaleParts(folder, task.order.name, shared);
    return true;
  }

  // What an earlier task left: its description, when it is one.
  bool ReadInfo(PartInfo& info) const {
    std::string text;
    return keepable_ && ReadSmallFile(PartInfoName(path_), text) && ParsePartInfo(text, info);
  }
  bool WriteInfo(const PartInfo& info) {
    if (!keepable_) return true;
    const std::string text = PartInfoText(info);
    ScopedHandle file(CreateFileW(ForFileApi(PartInfoName(path_)).c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                             nullptr) &&
           written == text.size();
  }

  int64_t Size() const {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file_.Get(), &size) ? size.QuadPart : 0;
  }

  // Takes the SHA-256 of everything the file holds from now on.
  bool StartHashing() {
    hash_.reset(new trust::Sha256());
    return hash_->Ready();
  }

  // Hashes what the file already holds (the bytes of an earlier start) and
  // stays at its end.
  bool HashExisting() {
    if (!hash_) return true;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file_.Get(), zero, nullptr, FILE_BEGIN)) return false;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file_.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
        return false;
      if (got == 0) return true;
      if (!hash_->Update(buffer.data(), got)) return false;
    }
  }

  // Empties the file (a new start from zero), or positions at its end.
  bool Truncate() {
    if (hash_ && !StartHashing()) return false;
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file_.Get(), zero, nullptr, FILE_BEGIN) && SetEndOfFile(file_.Get());
  }
  bool SeekToEnd() {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file_.Get(), zero, nullptr, FILE_END) != FALSE;
  }

  bool Append(const char* data, size_t size) {
    if (hash_ && !hash_->Update(data, size)) return false;
    while (size > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
      if (!WriteFile(file_.Get(), data, chunk, &written, nullptr) || written == 0) return false;
      data += written;
      size -= written;
    }
    return true;
  }

  // The digest of what was written (hashing must have been started).
  bool Finish(uint8_t (&digest)[32]) {
    trust::Digest value{};
    if (!hash_ || !hash_->Finish(value)) return false;
    std::memcpy(digest, value.data(), sizeof digest);
    return true;
  }

  // Moves the whole file over the final name; false when it cannot. With
  // `hold`, the file stays open afterwards for reading only, denying writing
  // and deletion (Held()), and is the file written here, unchanged: it is
  // renamed while still held, and looked at again once held.
  bool Commit(const std::wstring& finalPath, bool hold, Problem& reason) {
    BY_HANDLE_FILE_INFORMATION written{};
    bool stamped = false;
    if (hold) {
      // An explicit write time stays as set (a file system may otherwise
      // move it when the handle closes), so the second look can compare it.
      FILETIME now{};
      GetSystemTimeAsFileTime(&now);
      stamped = SetFileTime(file_.Get(), nullptr, nullptr, &now) &&
                GetFileInformationByHandle(file_.Get(), &written);
    }
    const bool renamed = RenameHeld(finalPath);
    file_.Close();
    if (!renamed && !MoveFileExW(ForFileApi(path_).c_str(), ForFileApi(finalPath).c_str(),
                                 MOVEFILE_REPLACE_EXISTING)) {
      reason = WithError("cannot move the file to its name");
      return false;
    }
    DeleteFileW(ForFileApi(PartInfoName(path_)).c_str());
    if (!hold) return true;
    held_.Set(CreateFileW(ForFileApi(finalPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held_) {
      reason = WithError("cannot hold the file at its name");
      return false;
    }
    BY_HANDLE_FILE_INFORMATION now{};
    if (!stamped || !GetFileInformationByHandle(held_.Get(), &now) ||
        !SameFileUnchanged(written, now)) {
      held_.Close();
      reason = Problem{"the file changed while it was handed over", ERROR_FILE_INVALID};
      return false;
    }
    return true;
  }
  HANDLE Held() const { return held_.Get(); }

  // The end of a task that did not finish: what arrived stays for a later
  // one when it can be carried on, otherwise it goes.
  void Leave(bool resumable) {
    file_.Close();
    if (resumable && keepable_) return;
    DeleteFileW(ForFileApi(path_).c_str());
    if (keepable_) DeleteFileW(ForFileApi(PartInfoName(path_)).c_str());
  }

 private:
  // Renames the open file over `finalPath` (same folder) through its handle,
  // so nobody can write or swap it on the way; false when the system cannot
  // (the caller then closes it and moves it by name).
  bool RenameHeld(const std::wstring& finalPath) {
    const std::wstring target = NtPathName(finalPath);
    if (target.empty()) return false;
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), rename->FileNameLength);
    return SetFileInformationByHandle(file_.Get(), FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
  }

  ScopedHandle file_;
  ScopedHandle held_;
  std::wstring path_;
  bool keepable_ = true;
  std::unique_ptr<trust::Sha256> hash_;
};

// Progress records: throttled, and the count never goes down (a file that
// starts again from zero shows where it was until it gets past it).
class Progress {
 public:
  explicit Progress(const TaskContext& task) : task_(task), throttle_(kProgressIntervalMs) {}

  void Report(int64_t loaded, int64_t total, int32_t status) {
    if (loaded > shown_) shown_ = loaded;
    if (!throttle_.Due(GetTickCount())) return;
    Send(total, status);
  }
  // A record that is not held back (the wait before carrying on).
  void ReportNow(int64_t total, int32_t status) { Send(total, status); }
  // The last record, sent together with what became of the request.
  void Final(int64_t loaded, int64_t total, int32_t status, const FetchResult& result,
             DWORD error, const std::string& fileDetails = std::string()) {
    if (loaded > shown_) shown_ = loaded;
    const std::string details = MakeRequestDetailsRecord(
        task_.id, error, result.status, status == kDownloadFinished ? result.signature : "");
    const DownloadNotice notice = MakeDownloadNotice(task_.id, shown_, total, status);
    task_.sendFinal(fileDetails, details, kDownloadNoticeId, &notice, sizeof notice);
  }
  int64_t Shown() const { return shown_; }

 private:
  void Send(int64_t total, int32_t status) {
    const DownloadNotice notice = MakeDownloadNotice(task_.id, shown_, total, status);
    task_.send(kDownloadNoticeId, &notice, sizeof notice);
  }

  const TaskContext& task_;
  ProgressThrottle throttle_;
  int64_t shown_ = 0;
};

// One request's body into the partial file, which holds `from` bytes.
class PartSink final : public BodySink {
 public:
  PartSink(const TaskContext& task, PartFile& part, PartInfo& info, Progress& progress,
           int64_t from, bool first)
      : task_(task), part_(part), info_(info), progress_(progress), from_(from), first_(first) {}

  bool OnStart(const ResponseHead& head) override {
    const int64_t limit = task_.order.options.sizeLimit;
    if (from_ > 0) {
      const int64_t expected = info_.total >= 0 ? info_.total : limit;
      switch (JudgeRangeAnswer(head.status, head.contentRange, from_, expected)) {
        case RangeAnswer::Append: {
          ContentRange range;
          ParseContentRange(head.contentRange, range);
          info_.total = range.total;
          if (!head.etag.empty()) info_.etag = head.etag;
          if (!head.lastModified.empty()) info_.lastModified = head.lastModified;
          if (!part_.SeekToEnd()) return Refuse(WithError("cannot write the partial file"));
          break;
        }
        case RangeAnswer::Restart:
          if (PassesLimit(head.declared)) return Oversize(head.declared);
          if (!part_.Truncate()) return Refuse(WithError("cannot write the partial file"));
          Describe(head);
          break;
        case RangeAnswer::Refetch:
          refetch_ = true;
          return Refuse(Problem{"the answer to the range request is not the rest of the file", 0});
      }
    } else {
      if (head.status == 206) return Refuse(Problem{"a part of the file, not asked for", 0});
      if (PassesLimit(head.declared)) return Oversize(head.declared);
      if (!part_.Truncate()) return Refuse(WithError("cannot write the partial file"));
      Describe(head);
    }
    if (!part_.WriteInfo(info_)) return Refuse(WithError("cannot describe the partial file"));
    progress_.Report(part_.Size(), info_.total, first_ ? kDownloadStarted : kDownloadProgress);
    return true;
  }

  bool OnData(const char* data, size_t size) override {
    // Not a byte beyond the signed size is written.
    const int64_t after = part_.Size() + static_cast<int64_t>(size);
    if (PassesLimit(after)) return Oversize(after);
    if (!part_.Append(data, size)) return Refuse(WithError("cannot write the partial file"));
    progress_.Report(part_.Size(), info_.total, kDownloadProgress);
    return true;
  }

  bool Refetch() const { return refetch_; }
  // The answer was larger than the signed size: nothing of it may stay.
  bool Oversized() const { return oversized_; }
  const Problem& Trouble() const { return trouble_; }

 private:
  // The whole file from zero: what its answer says about it.
  void Describe(const ResponseHead& head) {
    const std::string digest = info_.sha256;
    info_ = PartInfo();
    info_.url = task_.order.url;
    info_.total = head.declared;
    info_.etag = head.etag;
    info_.lastModified = head.lastModified;
    info_.sha256 = digest;
  }

  // `bytes` (announced or written) is more than the signed size.
  bool PassesLimit(int64_t bytes) const {
    const int64_t limit = task_.order.options.sizeLimit;
    return limit >= 0 && bytes > limit;
  }
  bool Oversize(int64_t bytes) {
    oversized_ = true;
    return Refuse(Problem{"the answer passes the signed size: " + std::to_string(bytes) + " of " +
                              std::to_string(task_.order.options.sizeLimit) + " bytes",
                          ERROR_FILE_TOO_LARGE});
  }

  bool Refuse(const Problem& problem) {
    trouble_ = problem;
    return false;
  }

  const TaskContext& task_;
  PartFile& part_;
  PartInfo& info_;
  Progress& progress_;
  const int64_t from_;
  const bool first_;
  bool refetch_ = false;
  bool oversized_ = false;
  Problem trouble_;
};

void Fail(const TaskContext& task, Progress& progress, const Problem& problem, int64_t total,
          const FetchResult& result = FetchResult()) {
  OutputDebugStringA(("Download: file download " + std::to_string(task.id) +
                      " failed: " + problem.reason + "\n").c_str());
  progress.Final(progress.Shown(), total, kDownloadFailed, result, problem.error);
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

void RunFileDownload(const TaskContext& task) {
  Progress progress(task);
  const TaskOptions& options = task.order.options;
  if (!IsPlainFileName(task.order.name)) {
    Fail(task, progress, Problem{"not a plain file name", ERROR_INVALID_NAME}, kUnknownLength);
    return;
  }
  if (!MakeFolders(task.order.folder)) {
    Fail(task, progress, WithError("cannot create the folder"), kUnknownLength);
    return;
  }
  PartFile part;
  Problem reason;
  if (!part.Open(task, reason)) {
    Fail(task, progress, reason, kUnknownLength);
    return;
  }
  if (options.reportFile && !part.StartHashing()) {
    part.Leave(false);
    Fail(task, progress, Problem{"cannot compute SHA-256", ERROR_NOT_SUPPORTED}, kUnknownLength);
    return;
  }
  // The signed digest vouches for a partial file across starts.
  trust::Digest signedDigest{};
  std::copy(options.digest.begin(), options.digest.end(), signedDigest.begin());
  const std::string digestText = options.hasDigest ? trust::DigestText(signedDigest) : "";
  auto fresh = [&] {
    PartInfo info;
    info.url = task.order.url;
    info.sha256 = digestText;
    return info;
  };
  // Whether what the file holds may wait for a later start.
  auto keepFor = [&](const PartInfo& info) {
    return CanCarryOver(info, task.order.url, part.Size(), digestText, options.sizeLimit);
  };
  // What an earlier start left for this address is carried on when a strong
  // validator or the signed digest vouches for it; anything else starts
  // from zero.
  PartInfo info;
  if (!part.ReadInfo(info) || !keepFor(info)) {
    info = fresh();
    if (!part.Truncate()) {
      part.Leave(false);
      Fail(task, progress, WithError("cannot write the partial file"), kUnknownLength);
      return;
    }
  } else {
    info.sha256 = digestText;
    if (!part.HashExisting()) {
      part.Leave(false);
      Fail(task, progress, WithError("cannot read the partial file"), kUnknownLength);
      return;
    }
  }

  int failuresInARow = 0;
  for (bool first = true;; first = false) {
    const int64_t from = part.Size();
    std::wstring headers;
    if (from > 0) {
      headers = L"Range: bytes=" + std::to_wstring(from) + L"-\r\n";
      const std::string validator = IfRangeValue(info);
      if (!validator.empty()) headers += L"If-Range: " + Widen(validator) + L"\r\n";
    }
    PartSink sink(task, part, info, progress, from, first);
    const FetchResult result =
        Fetch(*task.http, task.order.url, task.timeouts, *task.cancelled, sink, headers);
    if (result.outcome == FetchOutcome::Cancelled) {
      // The service ends: what arrived stays for the next start.
      part.Leave(keepFor(info));
      return;
    }
    if (result.outcome == FetchOutcome::Complete) {
      if (info.total >= 0 && part.Size() != info.total) {
        reason = Problem{"the file holds " + std::to_string(part.Size()) + " of " +
                             std::to_string(info.total) + " bytes", 0};
      } else if (*task.cancelled) {
        part.Leave(true);
        return;
      } else {
        const int64_t size = part.Size();
        uint8_t digest[32] = {};
        if (options.reportFile && !part.Finish(digest)) {
          reason = Problem{"cannot compute SHA-256", ERROR_NOT_SUPPORTED};
        } else if (part.Commit(JoinPath(task.order.folder, task.order.name), options.reportFile,
                               reason)) {
          // The file stays held until its records have been handled.
          const std::string fileDetails =
              options.reportFile
                  ? MakeFileDetailsRecord(task.id, GetCurrentProcessId(), part.Held(), size, digest)
                  : std::string();
          progress.Final(size, size, kDownloadFinished, result, 0, fileDetails);
          return;
        }
      }
      part.Leave(false);
      Fail(task, progress, reason, info.total, result);
      return;
    }
    // A range the server cannot or will not answer as the rest of this file:
    // the whole file again, at once.
    if (from > 0 && (sink.Refetch() || result.status == 416)) {
      info = fresh();
      if (part.Truncate()) continue;
    }
    // Broken after bytes arrived: carried on where it stopped, after a pause
    // that grows while attempts bring nothing new.
    const int64_t now = part.Size();
    failuresInARow = now > from ? 1 : failuresInARow + 1;
    if (result.broken && sink.Trouble().reason.empty() && now > 0 && failuresInARow <= kResumeAttempts) {
      OutputDebugStringA(("Download: file download " + std::to_string(task.id) + " broke at " +
                          std::to_string(now) + " bytes (" + result.reason + "), carrying on\n")
                             .c_str());
      progress.ReportNow(info.total, kDownloadReconnecting);
      if (!PauseUnlessCancelled(task, ResumePauseMs(failuresInARow))) {
        part.Leave(keepFor(info));
        return;
      }
      continue;
    }
    // An answer larger than signed leaves nothing behind.
    part.Leave(!sink.Oversized() && keepFor(info));
    Fail(task, progress,
         sink.Trouble().reason.empty() ? Problem{result.reason, result.error} : sink.Trouble(),
         info.total, result);
    return;
  }
}

}  // namespace download
