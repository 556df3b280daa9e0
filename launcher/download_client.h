// The launcher's side of the download service: the service's loader, the
// bookkeeping of started tasks, and what a finished task turns into (Lua
// events, cached data, the caller's continuation). The notices arrive as
// WM_COPYDATA records on the UI thread, the same thread that runs operations,
// so nothing here takes a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include <json/value.h>

#include "download_service.h"
#include "package_check.h"
#include "signed_reply.h"
#include "templdate_helper.h"
#include "transfer_rate.h"

// Loads Download.dll and creates its IDownloadService.
class CDownloadServiceHelper : public CTempldateHelper<IDownloadService> {
 public:
  CDownloadServiceHelper()
      : CTempldateHelper<IDownloadService>(kCreateDownloadServiceName, kDownloadLibraryName,
                                           &kDownloadServiceIid, kDownloadServiceVersion) {}
};

// Flags of a data load's "code".
constexpr int32_t kLoadCodeLuaEvent = 1;  // post the Lua event OnURLLoadData
constexpr int32_t kLoadCodePostCall = 2;  // post the data itself as an operation call
constexpr int32_t kLoadCodeCache = 4;     // keep the data under the request tag

// How long a loaded reply stays cached, and how often the cache is purged.
constexpr uint32_t kLoadedDataLifetimeMs = 30000;
constexpr uint32_t kPurgeTimerId = 0x10001;
constexpr uint32_t kPurgePeriodMs = 15000;

class DownloadClient {
 public:
  // `post` queues a call text on the launcher's module; `clock` gives
  // milliseconds of the process clock.
  using PostFn = std::function<void(const std::string& callText)>;
  using ClockFn = std::function<uint64_t()>;
  DownloadClient(PostFn post, ClockFn clock);

  // Where the client writes its log lines (a failed request, a refused
  // reply); none by default.
  using LogFn = std::function<void(const std::string& line)>;
  void SetLog(LogFn log) { log_ = std::move(log); }
  // With keys built in: checks the signature of a reply that is to be run as
  // an operation call (code bit 2); a reply that fails is logged and not
  // posted. None by default: every reply is posted, as the design has it.
  using ReplyCheckFn = std::function<trust::SignatureCheck(const std::string& body,
                                                           const std::string& signature)>;
  void SetReplyCheck(ReplyCheckFn check) { replyCheck_ = std::move(check); }

  // Bookkeeping of a started task. `thenText` is the continuation as styled
  // text, empty when the call had none; `url` is only logged.
  void TrackLoad(uint32_t task, int32_t opsign, int32_t code, const std::string& thenText,
                 const std::string& url = std::string());
  // `filePath` names the file the download ends in (for TakeWrittenPackage).
  void TrackDownload(uint32_t task, int32_t opsign, const std::string& thenText,
                     const std::string& url = std::string(),
                     const std::string& filePath = std::string());
  // A check of a download that ended well, run before its continuation is
  // posted (an operator's "sha256"/"size"): false makes it a failed download.
  using DownloadCheckFn = std::function<bool()>;
  void CheckDownloadWith(uint32_t task, DownloadCheckFn check) {
    taskCheck_[task] = std::move(check);
  }

  // A WM_COPYDATA record of the service; records shorter than their layout
  // are ignored, except data records: one shorter than its header, or
  // claiming more bytes than it holds, is a failed load (when its task id
  // cannot even be read, every data load still waiting fails), so the
  // caller's failure path follows instead of a start that stalls. True when
  // the identifier was one of the service's.
  bool OnRecord(uintptr_t id, const void* data, size_t size);
  void OnDownloadNotice(const DownloadNotice& notice);
  void OnLoadDataNotice(uint32_t task, const std::string& data);
  // Record 1088 (our service's addition): what became of a task's request;
  // kept until the task's final record.
  void OnRequestDetails(uint32_t task, uint32_t error, uint32_t httpStatus,
                        const std::string& signature);

  // Record 1089 (our service's addition): a download's file as it was
  // written, with a handle that holds it; the hold is duplicated and kept
  // (only a handle of this process is taken).
  void OnFileDetails(const FileDetailsRecord& record);
  // What the service took of the file at `path` as it wrote it (the last
  // finished download of that file), taken once; false when there is none.
  bool TakeWrittenPackage(const std::string& path, WrittenPackage& written);
  // Lets go of what is held for `path` (a new download of it starts: the
  // hold would keep it from reaching its name).
  void ForgetWrittenPackage(const std::string& path);

  // The cached data of a request tag, or empty. Reading keeps the entry.
  std::string GetLoadedData(int32_t opsign) const;
  // The signature that came with the cached data (empty when none came).
  std::string GetLoadedSignature(int32_t opsign) const;
  // Drops every entry whose time has come.
  void PurgeLoadedData();

  // Number of tasks still tracked (for tests and diagnostics).
  size_t TrackedTasks() const;

 private:
  struct Cached {
    uint64_t expiry;
    std::string data;
    std::string signature;
  };
  struct Details {
    bool present = false;  // a 1088 record came
    uint32_t error = 0;
    uint32_t httpStatus = 0;
    std::string signature;
  };
  // Logs a task's failed request: a task of ours whose details record came
  // and says it failed.
  void LogFailure(const char* what, const std::string& url, const Details& details);
  bool Tracked(uint32_t task) const;
  // Ends a data load whose record was damaged (no data).
  void FailDamagedLoad(uint32_t task);

  PostFn post_;
  ClockFn clock_;
  LogFn log_;
  ReplyCheckFn replyCheck_;
  std::map<uint32_t, Details> taskDetails_;
  std::map<uint32_t, std::string> taskUrl_;
  std::map<uint32_t, std::string> taskPath_;
  std::map<uint32_t, WrittenPackage> taskWritten_;   // until the task's final record
  std::map<std::string, WrittenPackage> written_;    // by file path, until taken
  std::map<uint32_t, int32_t> taskSign_;
  std::map<uint32_t, int32_t> taskCode_;
  std::map<uint32_t, std::string> taskThen_;
  std::map<uint32_t, TransferRate> taskRate_;
  std::map<uint32_t, DownloadCheckFn> taskCheck_;
  std::map<int32_t, Cached> loadedData_;
};
