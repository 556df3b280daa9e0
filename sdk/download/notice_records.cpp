#include "notice_records.h"

#include <cstring>
#include <limits>

namespace download {

namespace {

int32_t Clamp(int64_t value) {
  if (value < 0) return -1;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

}  // namespace

DownloadNotice MakeDownloadNotice(uint32_t task, int64_t loaded, int64_t total, int32_t status) {
  DownloadNotice notice{};
  notice.task = task;
  notice.loaded = loaded < 0 ? 0 : Clamp(loaded);
  notice.total = Clamp(total);
  notice.status = status;
  return notice;
}

std::string MakeLoadDataRecord(uint32_t task, const std::string& data) {
  LoadDataNoticeHeader header{};
  header.task = task;
  header.length = static_cast<uint32_t>(data.size());
  std::string record(sizeof header + data.size(), '\0');
  std::memcpy(&record[0], &header, sizeof header);
  if (!data.empty()) std::memcpy(&record[sizeof header], data.data(), data.size());
  return record;
}

std::string MakeRequestDetailsRecord(uint32_t task, uint32_t error, uint32_t httpStatus,
                                     const std::string& signature) {
  const size_t length =
      signature.size() < kMaxSignatureHeaderBytes ? signature.size() : kMaxSignatureHeaderBytes;
  RequestDetailsHeader header{};
  header.task = task;
  header.error = error;
  header.httpStatus = httpStatus;
  header.signatureLength = static_cast<uint32_t>(length);
  std::string record(sizeof header + length, '\0');
  std::memcpy(&record[0], &header, sizeof header);
  if (length > 0) std::memcpy(&record[sizeof header], signature.data(), length);
  return record;
}

std::string MakeFileDetailsRecord(uint32_t task, uint32_t processId, HANDLE handle, int64_t size,
                                  const uint8_t (&sha256)[32]) {
  FileDetailsRecord record{};
  record.task = task;
  record.processId = processId;
  record.handle = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
  record.size = size;
  std::memcpy(record.sha256, sha256, sizeof record.sha256);
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

bool ProgressThrottle::Due(DWORD now) {
  if (sent_ && now - last_ < interval_) return false;
  sent_ = true;
  last_ = now;
  return true;
}

}  // namespace download
