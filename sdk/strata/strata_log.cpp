#include "strata_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "code_page.h"
#include "data_folder.h"

namespace strata {

namespace {

// A log that grows past this is started afresh.
constexpr LONGLONG kLogLimit = 1 << 20;

}  // namespace

void Log(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  const int wanted = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  // A message cut to the buffer must not end in half a character.
  if (wanted >= static_cast<int>(sizeof message) &&
      cp936::EndsInsideChar(std::string_view(message, sizeof message - 1)))
    message[sizeof message - 2] = 0;

  SYSTEMTIME now;
  GetLocalTime(&now);
  char line[1200];
  const int n = std::snprintf(line, sizeof line,
                              "[strata %04u-%02u-%02u %02u:%02u:%02u.%03u pid %lu] %s\r\n",
                              now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                              now.wSecond, now.wMilliseconds, GetCurrentProcessId(), message);
  if (n <= 0) return;
  const DWORD length = static_cast<DWORD>(n < static_cast<int>(sizeof line) ? n : sizeof line - 1);
  OutputDebugStringA(line);

  const std::string folder = DataFolder() + "\\Log";
  if (!EnsureFolder(folder)) return;
  const std::string path = folder + "\\strata.log";
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size) && size.QuadPart > kLogLimit) {
    CloseHandle(file);
    file = CreateFileA(path.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
  }
  DWORD written = 0;
  WriteFile(file, line, length, &written, nullptr);
  CloseHandle(file);
}

}  // namespace strata
