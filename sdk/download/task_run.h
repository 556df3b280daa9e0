// Carrying out one task on a worker thread: a data load (kind 0) or a file
// download (kind 1), each ending with its one final record unless the service
// is being released.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "http_fetch.h"
#include "http_session.h"
#include "task_record.h"

namespace download {

struct TaskContext {
  uint32_t id = 0;
  TaskOrder order;
  Timeouts timeouts;
  const std::atomic<bool>* cancelled = nullptr;
  HttpSession* http = nullptr;  // the service's session, alive as long as the task
  // Sends one WM_COPYDATA record to the task's window; false when the
  // service is ending and nothing was sent.
  std::function<bool(ULONG_PTR id, const void* data, DWORD size)> send;
  // Sends the 1089 record (when `fileDetails` is not empty), the 1088
  // record and the task's final record right after them, all or none: once
  // the first is on its way, the end of the service waits for the last too.
  std::function<bool(const std::string& fileDetails, const std::string& details, ULONG_PTR id,
                     const void* data, DWORD size)>
      sendFinal;
};

// Waits `ms`, or less when the task is cancelled; false when it was.
bool PauseUnlessCancelled(const TaskContext& task, DWORD ms);

// Reads the body (at most kDataLoadCap bytes) and sends one 1087 record with
// it, or with no data when the load failed. A failure in transport is tried
// again (kLoadRetries times) before it counts.
void RunDataLoad(const TaskContext& task);

// Streams the body to a partial file beside the final name (resume_rules.h),
// sends 1086 progress records (status 1 when the headers arrived, 2 while
// bytes arrive, at most ten a second, the count never going down), moves the
// file over the final name when the whole body arrived, and ends with one
// record of status 3 or 4. A transfer that breaks after bytes arrived is
// carried on where it stopped (status 5 while it waits), up to
// kResumeAttempts times in a row without progress. On failure the final name
// is untouched; the partial file stays for a later start when it can be
// carried on, and is removed when it cannot.
void RunFileDownload(const TaskContext& task);

}  // namespace download
