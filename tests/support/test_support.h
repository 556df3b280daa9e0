// Helpers shared by the test programs: temporary folders, running helper
// programs, finding and closing dialogs from a second thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// The folder of the running test program (with a trailing backslash).
std::string ProgramDir();

// A time a test allows for its programs' work (a wait's limit, the most a
// step may take): `ms` on the x86_64 build, times the factor in the
// environment variable LUMORA_TEST_TIME_FACTOR where a build's tests run
// slower (the i686 build under emulation sets it: cmake/LumoraTarget.cmake).
// The product's own times (its timers, pauses, time-outs) are no budgets and
// stay as they are. The waiting helpers below apply it to their limits.
DWORD Budget(DWORD ms);
// The factor itself (1 when unset or not a whole number from 1 to 100).
DWORD TimeFactor();

// How a TempDir's folder is named. Real users install into Chinese-named
// folders; end-to-end tests run their programs from one of the Chinese kinds.
enum class TempName {
  kPlain,          // %TEMP%\lumora_<unique>
  kChinese,        // %TEMP%\lumora_<unique>_游戏淺: ends in 淺, whose second
                   // byte is 0x5C, the backslash byte
  kChineseAtRoot,  // <drive of %TEMP%>\lumora_<unique>_游戏大厅: a Chinese
                   // folder right below a drive root, as C:\游戏大厅\ is
};

// The Chinese part of the kChinese names, in code page 936.
inline constexpr char kChineseFolderTail[] = "游戏淺";
static_assert(sizeof kChineseFolderTail == 7 && kChineseFolderTail[5] == '\\',
              "test sources are compiled to code page 936: 淺 is 9C 5C");

// A fresh empty folder, removed with its contents on destruction.
class TempDir {
 public:
  explicit TempDir(TempName name = TempName::kPlain);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }  // no trailing backslash
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Removes a folder with everything in it; copies a folder with everything in
// it (false when anything could not be copied).
void RemoveTree(const std::string& path);
bool CopyTree(const std::string& from, const std::string& to);

// Every byte of a parameter envelope's body, zero bytes included (the
// envelope's own reader stops at the first zero byte, as text readers do).
std::string EnvelopeBytes(const std::string& envelope);
// A raw deflate stream (no zlib header) inflated; a text in <> on failure.
std::string InflateRaw(const std::string& compressed);
// Reads a file that another handle may hold open for writing.
bool ReadFileBytes(const std::string& path, std::string& bytes);
// The names in a folder (no "." and ".."), sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// The limits of the helpers below are budgets: Budget(timeoutMs) applies.

// Runs a command line in `workDir`, waits up to `timeoutMs`; returns the exit
// code, or -1000 when it could not start, -1001 on time-out (the process is
// then terminated).
int RunAndWait(const std::string& commandLine, const std::string& workDir,
               DWORD timeoutMs = 30000);

// Why a program could not be started: when, the system's error of the
// failed CreateProcess (number and text), whether the program file is there
// and can be read, and which processes the Wine server runs, e.g.
// "CreateProcess failed at 10:02:03.456 with error 2 (...) for <command
// line>; program file missing (error 2); 9 processes running: ...". Call it
// right after the failed call (it reads GetLastError()).
std::string StartFailure(const std::string& commandLine);

// What a program did when run by RunClosingDialogs.
struct ProgramOutcome {
  int exitCode = -1000;              // -1000 not started, -1001 ended on time-out
  std::vector<std::string> dialogs;  // texts of the message boxes it showed, in order
};

// Runs a command line in `workDir` and answers every dialog the new process
// shows with OK, collecting the dialogs' texts (each dialog once, however
// long it takes to close); ends the process when it has not ended after
// `timeoutMs`.
// `closeCommand` is the WM_COMMAND that answers a dialog: IDOK for message
// boxes, IDCANCEL for dialogs whose OK button does something else.
ProgramOutcome RunClosingDialogs(const std::string& commandLine, const std::string& workDir,
                                 DWORD timeoutMs = 60000, WPARAM closeCommand = IDOK);

// Waits up to `timeoutMs` for a visible top-level window of `className` (and
// `title` when given) that belongs to this process. A dialog becomes visible
// only after its initialisation, so its controls are filled in by then.
HWND WaitForWindow(const char* className, const char* title, DWORD timeoutMs);

// A dialog (window class "#32770") of a process, when it shows one; with
// `visibleOnly` only once it is visible (its controls are filled in by then).
HWND DialogOf(DWORD processId, bool visibleOnly = false);

// All static texts of a dialog, joined with '|'.
std::string DialogText(HWND dialog);

// Runs `action` on a second thread while the calling thread does its work;
// joins on destruction.
class Background {
 public:
  explicit Background(std::function<void()> action);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

 private:
  HANDLE thread_ = nullptr;
  std::function<void()> action_;
};

// The log file this test process writes (each test process has its own).
std::string OwnLogPath();

// The lines this process's log gained while `action` ran.
template <typename F>
std::string LogDuring(F action) {
  std::string before, after;
  ReadFileBytes(OwnLogPath(), before);
  action();
  ReadFileBytes(OwnLogPath(), after);
  return after.size() >= before.size() ? after.substr(before.size()) : after;
}

// Dispatches this thread's messages until `done` returns true or the time
// (a budget) runs out; returns `done()`.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);

// Asks `done` every 20 ms until it returns true or the time (a budget) runs
// out; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);

}  // namespace testing_support
