// The program's log: one file per program beside it in "Log", recreated at
// each start, one line per message with index and local time.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Longest message text kept in one line, in bytes.
constexpr size_t kLogMessageLimit = 1600;

// Formats one log line "index=%d,time:%4d%02d%02d_%02d%02d%02d%03d:%s\r\n"
// into `buffer`. Returns the line's length, or 0 when it does not fit.
size_t FormatLogLine(char* buffer, size_t size, int32_t index, const SYSTEMTIME& time,
                     const char* text);

class LogFile {
 public:
  LogFile();
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The process-wide log, built on first use.
  static LogFile& Instance();

  // Creates (truncates) the file, shared for reading and writing.
  bool Open(const char* fileName);
  // Writes one formatted line with one WriteFile call.
  bool Write(const char* text);
  void Close();

  void SetEnabled(bool enabled) { enabled_ = enabled; }
  int32_t LineIndex() const { return lineIndex_; }
  DWORD LastError() const { return lastError_; }

 private:
  bool enabled_ = true;
  int32_t lineIndex_ = 0;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  CRITICAL_SECTION lock_;
  DWORD lastError_ = 0;
};

// Chooses the program's log file, relative to the current directory, e.g.
// "Log\\starter.log". Must be called before the first WriteLog.
void SetLogFileName(const char* fileName);

// Writes one line to the program's log; 1 when written, 0 otherwise.
int WriteLog(const char* text);

// Printf-style convenience over WriteLog.
int WriteLogF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs the text, then shows it in a plain system message box (no owner, no
// caption, OK). Returns the message box result.
int ShowError(const char* text);
