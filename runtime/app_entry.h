// The program entry of the windowed programs: crash reporter, COM, common
// controls, OLE, the program's own start, one message loop, the orderly end,
// and everything taken down again in reverse order.
#pragma once

#include <windows.h>

#include <string>

// What a program plugs into the entry.
struct AppHooks {
  const char* crashSubject = "";  // crash-report subject, e.g. "Mendor"
  // The program's start with its command-line text; false ends the program
  // with -1 without running the loop.
  bool (*initInstance)(const char* commandLine) = nullptr;
  // After the loop has ended (only when initInstance succeeded).
  void (*orderlyEnd)() = nullptr;
  // When initInstance failed, before returning -1 (may be null).
  void (*onInitFailed)() = nullptr;
};

// The recipient every program's crash reports name.
extern const char kCrashReportRecipient[];

// Runs the program; returns its exit code (the loop's WM_QUIT code, or -1).
int RunApplication(HINSTANCE instance, const char* commandLine, const AppHooks& hooks);
