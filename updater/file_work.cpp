#include "file_work.h"

#include "code_page.h"
#include "log_file.h"
#include "path_util.h"
#include "scoped_handle.h"

bool CreateMissingDirectories(const std::string& path) {
  std::string full = CanonicalizePath(path);
  if (IsRelativePath(full)) {
    char current[MAX_PATH];
    const DWORD n = GetCurrentDirectoryA(MAX_PATH - 1, current);
    if (n == 0 || n >= MAX_PATH - 1) return false;
    full = JoinPath(std::string(current, n), full);
  }
  if (full.size() + 2 > MAX_PATH) return false;
  full += '/';
  // Every separator ends a folder to create; a character's second byte 0x5C
  // is no separator.
  for (size_t i = 0; i < full.size(); i = cp936::NextChar(full, i)) {
    if (cp936::CharLength(full, i) != 1 || (full[i] != '\\' && full[i] != '/')) continue;
    const std::string prefix = full.substr(0, i);
    // Skip the empty start of "\\..." paths and a bare drive ("C:").
    if (prefix.empty() || cp936::EndsWithOneOf(prefix, ":\\")) continue;
    if (PathExists(prefix)) continue;
    if (!CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return true;
}

bool IsCopyRetryable(DWORD error, bool targetIsExistingFile) {
  if (!targetIsExistingFile) return false;
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

DWORD RetryCopy(const std::function<DWORD()>& attempt,
                const std::function<bool()>& targetIsExistingFile,
                const std::function<void(DWORD)>& pause,
                const std::function<void(DWORD)>& onRetry, DWORD limitMs, DWORD stepMs) {
  DWORD error = attempt();
  DWORD waited = 0;
  while (error != 0 && waited < limitMs && IsCopyRetryable(error, targetIsExistingFile())) {
    if (waited == 0 && onRetry) onRetry(error);
    const DWORD step = stepMs < limitMs - waited ? stepMs : limitMs - waited;
    pause(step);
    waited += step;
    error = attempt();
  }
  return error;
}

namespace {

// The file `path` names, opened for no access at all: that works while
// another program holds the file without sharing it.
ScopedHandle OpenForIdentity(const std::string& path) {
  return ScopedHandle(CreateFileA(path.c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

bool IsSameFile(const std::string& first, const std::string& second) {
  const ScopedHandle a = OpenForIdentity(first);
  const ScopedHandle b = OpenForIdentity(second);
  if (!a || !b) return false;
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!GetFileInformationByHandle(a.Get(), &ia) || !GetFileInformationByHandle(b.Get(), &ib))
    return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

DWORD CopyFileRetrying(const std::string& source, const std::string& destination) {
  // A copy of a file onto itself fails the same way however long it waits.
  const bool ontoItself = IsSameFile(source, destination);
  return RetryCopy(
      [&]() -> DWORD {
        if (CopyFileA(source.c_str(), destination.c_str(), FALSE)) return 0;
        // A failed copy must never read as success, whatever the system says.
        const DWORD error = GetLastError();
        return error != 0 ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
      },
      [&] { return !ontoItself && FileExists(destination); }, [](DWORD ms) { Sleep(ms); },
      [&](DWORD error) {
        WriteLogF("目标文件正被使用,等待重试[ERR:%d] 目标:'%s'", static_cast<int>(error),
                  destination.c_str());
      },
      kCopyRetryLimitMs, kCopyRetryStepMs);
}
