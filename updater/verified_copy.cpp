#include "verified_copy.h"

#include <vector>

#include "bcrypt_trust.h"
#include "file_work.h"
#include "log_file.h"
#include "path_util.h"
#include "scoped_handle.h"

namespace {

constexpr DWORD kPiece = 256 * 1024;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != 0 ? error : fallback;
}

// Reads `source` once, hashing each piece and writing it to `copy`.
DWORD HashInto(HANDLE source, HANDLE copy, VerifiedCopyResult& result) {
  trust::Sha256 hash;
  if (!hash.Ready()) return ERROR_NOT_SUPPORTED;
  std::vector<char> buffer(kPiece);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source, buffer.data(), kPiece, &got, nullptr)) return LastErrorOr(ERROR_READ_FAULT);
    if (got == 0) break;
    DWORD written = 0;
    if (!hash.Update(buffer.data(), got) ||
        !WriteFile(copy, buffer.data(), got, &written, nullptr) || written != got)
      return LastErrorOr(ERROR_WRITE_FAULT);
    result.size += got;
  }
  return hash.Finish(result.digest) ? 0 : static_cast<DWORD>(ERROR_NOT_SUPPORTED);
}

}  // namespace

VerifiedCopyResult CopyVerified(const std::string& source, const std::string& destination,
                                const trust::Digest& expected, int64_t expectedSize) {
  VerifiedCopyResult result;
  // Shared for reading only: nobody writes, renames or deletes it while read.
  ScopedHandle package(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!package) {
    result.error = LastErrorOr(ERROR_FILE_NOT_FOUND);
    return result;
  }
  const std::string fresh = destination + ".new";
  ScopedHandle copy(CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!copy) {
    result.error = LastErrorOr(ERROR_CANNOT_MAKE);
    return result;
  }
  result.error = HashInto(package.Get(), copy.Get(), result);
  copy.Close();
  package.Close();
  if (result.error == 0 &&
      (result.digest != expected || (expectedSize >= 0 && result.size != expectedSize))) {
    result.mismatch = true;
    result.error = ERROR_INVALID_DATA;
  }
  if (result.error != 0) {
    DeleteFileA(fresh.c_str());
    return result;
  }
  result.copy = fresh;
  return result;
}

DWORD PutCopyInPlace(const std::string& copy, const std::string& destination) {
  const DWORD error = RetryCopy(
      [&]() -> DWORD {
        return MoveFileExA(copy.c_str(), destination.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? 0
                   : LastErrorOr(ERROR_GEN_FAILURE);
      },
      [&] { return FileExists(destination); }, [](DWORD ms) { Sleep(ms); },
      [&](DWORD last) {
        WriteLogF("目标文件正被使用,等待重试[ERR:%d] 目标:'%s'", static_cast<int>(last),
                  destination.c_str());
      },
      kCopyRetryLimitMs, kCopyRetryStepMs);
  if (error != 0) DeleteFileA(copy.c_str());
  return error;
}
