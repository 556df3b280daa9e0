// The updater's file work around the system calls: creating a missing folder
// chain, and copying over a file that its old owner may still hold open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// Creates every missing folder of `path` (a folder path, or a file path whose
// last part is then a folder too when it ends with a separator). Relative
// paths start at the current directory. Paths longer than 258 characters are
// left alone; stops at the first folder it cannot create. False when it gave
// up or a creation failed.
bool CreateMissingDirectories(const std::string& path);

// The launcher asks to end and starts the updater without waiting, so a copy
// over the launcher may meet it still running. Such failures are worth
// waiting for; a folder in the way, a missing source or a full disk are not.
bool IsCopyRetryable(DWORD error, bool targetIsExistingFile);

// How long a copy over a file in use is retried, and the pause between tries.
constexpr DWORD kCopyRetryLimitMs = 15000;
constexpr DWORD kCopyRetryStepMs = 250;

// The retry loop, apart from the system: `attempt` returns 0 or an error code,
// `targetIsExistingFile` tells what stands at the destination, `pause` sleeps,
// `onRetry` hears about the first retry. Returns the last attempt's outcome.
DWORD RetryCopy(const std::function<DWORD()>& attempt,
                const std::function<bool()>& targetIsExistingFile,
                const std::function<void(DWORD)>& pause,
                const std::function<void(DWORD)>& onRetry, DWORD limitMs, DWORD stepMs);

// True when both paths name one existing file or folder, however each is
// spelled (compared by volume and file index).
bool IsSameFile(const std::string& first, const std::string& second);

// CopyFileA (overwriting) with the retry above; 0 or the last error code. A
// copy of a file onto itself is not retried.
DWORD CopyFileRetrying(const std::string& source, const std::string& destination);
