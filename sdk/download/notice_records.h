// The records the service sends with WM_COPYDATA, and the pace of progress
// records of a file download.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "download_service.h"

namespace download {

// A 1086 record; byte counts beyond the signed 32-bit range are held at its
// top, and an unknown total (negative) is sent as -1.
DownloadNotice MakeDownloadNotice(uint32_t task, int64_t loaded, int64_t total, int32_t status);

// A 1087 record: the header and `data` after it (an empty `data` for a
// failed load).
std::string MakeLoadDataRecord(uint32_t task, const std::string& data);

// A 1088 record: the error and status of a task's request and the signature
// header's value (cut to kMaxSignatureHeaderBytes).
std::string MakeRequestDetailsRecord(uint32_t task, uint32_t error, uint32_t httpStatus,
                                     const std::string& signature);

// A 1089 record: the downloaded file's size and SHA-256 and the handle that
// holds it, a handle of process `processId`.
std::string MakeFileDetailsRecord(uint32_t task, uint32_t processId, HANDLE handle, int64_t size,
                                  const uint8_t (&sha256)[32]);

// Lets a progress record through at most once per `intervalMs`. The first
// one always passes; the final record of a task bypasses the throttle.
class ProgressThrottle {
 public:
  explicit ProgressThrottle(DWORD intervalMs) : interval_(intervalMs) {}
  // True (and counts it as sent) when a record may go out at `now`
  // (GetTickCount, wrap-around safe).
  bool Due(DWORD now);

 private:
  DWORD interval_;
  DWORD last_ = 0;
  bool sent_ = false;
};

// Progress records go out at most ten times a second.
constexpr DWORD kProgressIntervalMs = 100;

}  // namespace download
