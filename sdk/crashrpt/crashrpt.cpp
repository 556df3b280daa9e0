#include "crashrpt.h"

#include <dbghelp.h>

#include <cstdio>
#include <string_view>

#include "code_page.h"

namespace {

CrashCallback g_callback = nullptr;
char g_recipient[256];
char g_subject[256];
bool g_installed = false;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;

// The crashed process may have a damaged heap: everything below works on the
// stack and with plain system calls.
// Copies a text, cut to the buffer between characters.
void CopyText(char* to, size_t size, const char* from) {
  const int wanted = std::snprintf(to, size, "%s", from ? from : "");
  if (wanted >= static_cast<int>(size) && cp936::EndsInsideChar(std::string_view(to, size - 1)))
    to[size - 2] = '\0';
}

bool ReportFolder(char* folder, size_t size) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  // The folder ends at the last backslash character; a Chinese folder name
  // may hold the byte 0x5C as a character's second byte.
  const size_t slash = cp936::FindLastOf(std::string_view(path, n), "\\");
  if (slash == std::string_view::npos) return false;
  path[slash] = '\0';
  const int written = std::snprintf(folder, size, "%s\\CrashDumps", path);
  if (written < 0 || static_cast<size_t>(written) >= size) return false;
  CreateDirectoryA(folder, nullptr);
  return true;
}

void WriteDump(const char* path, EXCEPTION_POINTERS* pointers) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  MINIDUMP_EXCEPTION_INFORMATION info{};
  info.ThreadId = GetCurrentThreadId();
  info.ExceptionPointers = pointers;
  info.ClientPointers = FALSE;
  MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal,
                    pointers ? &info : nullptr, nullptr, nullptr);
  CloseHandle(file);
}

void WriteReport(const char* path, const char* dumpName, EXCEPTION_POINTERS* pointers) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  const EXCEPTION_RECORD* record = pointers ? pointers->ExceptionRecord : nullptr;
  char text[1024];
  const int n = std::snprintf(
      text, sizeof text,
      "subject: %s\r\nrecipient: %s\r\ntime: %04d-%02d-%02d %02d:%02d:%02d\r\n"
      "process: %lu\r\nexception code: 0x%08lX\r\nexception address: %p\r\ndump: %s\r\n",
      g_subject, g_recipient, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
      now.wSecond, GetCurrentProcessId(), record ? record->ExceptionCode : 0UL,
      record ? record->ExceptionAddress : nullptr, dumpName);
  if (n > 0) {
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(n < static_cast<int>(sizeof text) ? n : sizeof text - 1),
              &written, nullptr);
  }
  CloseHandle(file);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  static LONG entered = 0;
  if (InterlockedExchange(&entered, 1) != 0) return EXCEPTION_CONTINUE_SEARCH;
  if (g_callback && !g_callback(nullptr)) return EXCEPTION_CONTINUE_SEARCH;
  char folder[MAX_PATH + 16];
  if (ReportFolder(folder, sizeof folder)) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stem[64];
    std::snprintf(stem, sizeof stem, "crash_%04d%02d%02d_%02d%02d%02d_%lu", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId());
    char dump[MAX_PATH + 96];
    char report[MAX_PATH + 96];
    char dumpName[96];
    std::snprintf(dumpName, sizeof dumpName, "%s.dmp", stem);
    std::snprintf(dump, sizeof dump, "%s\\%s", folder, dumpName);
    std::snprintf(report, sizeof report, "%s\\%s.txt", folder, stem);
    WriteDump(dump, pointers);
    WriteReport(report, dumpName, pointers);
  }
  // Let the process end as it would have without us.
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

extern "C" BOOL Install(CrashCallback callback, LPCSTR recipient, LPCSTR subject) {
  if (g_installed) return FALSE;
  g_callback = callback;
  CopyText(g_recipient, sizeof g_recipient, recipient);
  CopyText(g_subject, sizeof g_subject, subject);
  g_previous = SetUnhandledExceptionFilter(OnUnhandledException);
  g_installed = true;
  return TRUE;
}

extern "C" void Uninstall() {
  if (!g_installed) return;
  SetUnhandledExceptionFilter(g_previous);
  g_previous = nullptr;
  g_callback = nullptr;
  g_installed = false;
}
