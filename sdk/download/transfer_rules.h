// The rules that decide whether a transfer succeeded: which statuses count,
// how a Content-Length header is read, when a body is whole, and the cap on
// the size of loaded data.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace download {

// No Content-Length was given (the body ends when the connection does).
constexpr int64_t kUnknownLength = -1;

// The largest body a data load keeps; larger ones fail.
constexpr int64_t kDataLoadCap = 4 * 1024 * 1024;

// 200..299.
bool IsSuccessStatus(DWORD status);

// A Content-Length header value: decimal digits with optional surrounding
// spaces or tabs, at most 2^63-1. False for anything else (empty, signs,
// several values, overflow).
bool ParseContentLength(const std::wstring& text, int64_t& length);

// A body is whole when its length was not announced or all announced bytes
// arrived (a connection closed early reads like a normal end).
bool BodyComplete(int64_t received, int64_t declared);

// Whether a refused secure connection was refused only because the
// certificate's revocation could not be checked: 12057
// (ERROR_WINHTTP_SECURE_CERT_REV_FAILED), or a secure failure whose flags
// from the system (WINHTTP_CALLBACK_STATUS_FLAG_*) say exactly that and
// nothing else. Flags that say nothing (Wine 8 gives none) do not count.
bool RevocationOnlyUnchecked(DWORD error, DWORD secureFlags);

// Whether a data load of `bytes` (announced or received so far) stays within
// the cap.
bool FitsDataLoadCap(int64_t bytes);

}  // namespace download
