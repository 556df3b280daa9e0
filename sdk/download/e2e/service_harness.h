// Test support for Download.dll: the library loaded the way the launcher
// loads it, a window that records the WM_COPYDATA records it receives, and
// task records made from plain texts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download_hooks.h"
#include "loopback_endpoint.h"
#include "download_service.h"
#include "templdate_helper.h"
#include "test_support.h"

namespace download_test {

// The time-outs of the tests' tasks.
constexpr DWORD kTestConnectMs = 1000;
constexpr DWORD kTestReceiveMs = 1500;

// One WM_COPYDATA record as received.
struct Record {
  ULONG_PTR id = 0;
  std::string bytes;
  DWORD tick = 0;

  uint32_t Task() const;
  // 1086: the notice (zeros when the record is too short).
  DownloadNotice Notice() const;
  // 1087: the data after the header (empty when the record is too short).
  std::string Data() const;
};

// What a 1088 record says about a task's request.
struct Details {
  bool present = false;  // exactly one 1088 record, sent just before the task's final record
  uint32_t error = 0;
  uint32_t httpStatus = 0;
  std::string signature;
};

// A hidden window of the calling thread that keeps every record it gets.
// `onRecord` (optional) runs inside the handler, after the record is kept.
class RecordWindow {
 public:
  RecordWindow();
  ~RecordWindow();
  RecordWindow(const RecordWindow&) = delete;
  RecordWindow& operator=(const RecordWindow&) = delete;

  HWND Handle() const { return window_; }
  void Destroy();
  const std::vector<Record>& Records() const { return records_; }
  // The records of a task that the design's contract knows (1086, 1087).
  std::vector<Record> RecordsOf(uint32_t task) const;
  // Records so far are dropped (a new service numbers its tasks from 1 again).
  void Forget() { records_.clear(); }
  // The 1088 record of a task, and whether it came once and right before the
  // task's final record.
  Details DetailsOf(uint32_t task) const;
  // The records that end a task: a 1087 record, or a 1086 record of status 3 or 4.
  size_t FinalRecords(uint32_t task) const;
  // The 1089 records of a task.
  std::vector<FileDetailsRecord> FileDetailsOf(uint32_t task) const;
  // Dispatches messages until every task has its final record; false on time-out.
  bool WaitForEnds(const std::vector<uint32_t>& tasks, DWORD timeoutMs);
  std::function<void(const Record&)> onRecord;

 private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
  std::vector<Record> records_;
};

// Download.dll loaded by file name, with its interface created.
class LoadedService {
 public:
  // Tests use short time-outs (set through the test export); check IsValid().
  explicit LoadedService(DWORD connectMs = kTestConnectMs, DWORD receiveMs = kTestReceiveMs);
  bool IsValid() const { return helper_.IsValid(); }
  IDownloadService* operator->() const { return helper_.Get(); }
  // Releases the interface and frees the library (as the launcher's window does).
  void Unload() { helper_.Unload(); }

 private:
  CTempldateHelper<IDownloadService> helper_;
};

// CreateTask with options, through the library's second export (0 when the
// export is missing or the task refused).
uint32_t CreateTaskWithOptions(IDownloadService* service, uint32_t kind,
                               const DownloadTaskParams& params, HWND window,
                               const DownloadTaskOptions& options);
// Options with these flags, size limit and digest (32 bytes, or none).
DownloadTaskOptions TaskOptions(uint32_t flags, int64_t size = 0,
                                const std::string& digest = std::string());

// `size` bytes of a pattern that repeats neither soon nor evenly (`seed`
// picks another one of the same size).
std::string Pattern(size_t size, unsigned seed = 131);
// A reply of `body` with `status`.
endpoint::Reply Body(const std::string& body, int status = 200);
// Answers with the scripted replies in turn, the last one again and again.
std::function<endpoint::Reply(const endpoint::Request&)> Script(std::vector<endpoint::Reply> replies);

// A zeroed task record holding these texts (each must fit its field).
DownloadTaskParams TaskRecord(const std::string& url, const std::string& folder = "",
                              const std::string& name = "");

// A port nothing listens on (bound once, then closed).
uint16_t UnusedPort();

using testing_support::FolderNames;

// Dispatches messages for `ms`.
void PumpFor(DWORD ms);

}  // namespace download_test
