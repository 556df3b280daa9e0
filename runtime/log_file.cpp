#include "log_file.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "code_page.h"

namespace {

// Prefix "index=-2147483648,time:" plus 17 time digits, the text and "\r\n".
constexpr size_t kLineBufferSize = kLogMessageLimit + 64;
char g_lineBuffer[kLineBufferSize];  // used only under the log's lock

// Built on first use: programs and tests may name the file from their own
// static initialisers.
std::string& FileName() {
  static std::string name = "Log\\app.log";
  return name;
}
std::atomic<bool> g_firstWrite{true};

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~Locked() { LeaveCriticalSection(&cs_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

}  // namespace

size_t FormatLogLine(char* buffer, size_t size, int32_t index, const SYSTEMTIME& t,
                     const char* text) {
  const int n = std::snprintf(buffer, size, "index=%d,time:%4d%02d%02d_%02d%02d%02d%03d:%s\r\n",
                              static_cast<int>(index), t.wYear, t.wMonth, t.wDay, t.wHour,
                              t.wMinute, t.wSecond, t.wMilliseconds, text);
  if (n < 0 || static_cast<size_t>(n) >= size) return 0;
  return static_cast<size_t>(n);
}

LogFile::LogFile() { InitializeCriticalSection(&lock_); }

LogFile::~LogFile() {
  Close();
  DeleteCriticalSection(&lock_);
}

LogFile& LogFile::Instance() {
  static LogFile instance;
  return instance;
}

bool LogFile::Open(const char* fileName) {
  Locked hold(lock_);
  if (!enabled_) return false;
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateFileA(fileName, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    lastError_ = GetLastError();
    return false;
  }
  file_ = h;
  return true;
}

bool LogFile::Write(const char* text) {
  Locked hold(lock_);
  if (file_ == INVALID_HANDLE_VALUE || text == nullptr || !enabled_) return false;
  SYSTEMTIME now;
  GetLocalTime(&now);
  const size_t length = FormatLogLine(g_lineBuffer, sizeof g_lineBuffer, lineIndex_, now, text);
  ++lineIndex_;  // also when the write fails: gaps show lost lines
  if (length == 0) return false;
  DWORD written = 0;
  return WriteFile(file_, g_lineBuffer, static_cast<DWORD>(length), &written, nullptr) &&
         written == length;
}

void LogFile::Close() {
  Locked hold(lock_);
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
}

void SetLogFileName(const char* fileName) { FileName() = fileName ? fileName : ""; }

int WriteLog(const char* text) {
  if (text == nullptr) return 0;
  std::string line(text);
  line += '\n';
  LogFile& log = LogFile::Instance();
  if (g_firstWrite.exchange(false)) {
    log.SetEnabled(true);
    if (!log.Open(FileName().c_str())) {
      CreateDirectoryA("Log", nullptr);
      log.Open(FileName().c_str());
    }
  }
  // Cut between characters: half a Chinese character would garble the line.
  line.resize(cp936::CutLength(line, kLogMessageLimit));
  return log.Write(line.c_str()) ? 1 : 0;
}

int WriteLogF(const char* format, ...) {
  char text[kLogMessageLimit + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return WriteLog(text);
}

int ShowError(const char* text) {
  WriteLog(text);
  return MessageBoxA(nullptr, text ? text : "", nullptr, MB_OK);
}
