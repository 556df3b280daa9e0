// CrashRpt: crash reporting for our programs. Install() as the first thing a
// program does, Uninstall() as the last. A crash (an unhandled exception) then
// leaves a minidump and a short text report in "CrashDumps" beside the
// program; nothing is sent anywhere.
#pragma once

#include <windows.h>

#ifdef CRASHRPT_BUILD
#define CRASHRPT_API __declspec(dllexport)
#else
#define CRASHRPT_API __declspec(dllimport)
#endif

// Called when a crash is being reported, before the files are written.
// Returns TRUE to go on with the report.
typedef BOOL(CALLBACK* CrashCallback)(LPVOID state);

extern "C" {
// Installs the handler; `recipient` and `subject` go into the text report.
// Returns FALSE when a handler is installed already.
CRASHRPT_API BOOL Install(CrashCallback callback, LPCSTR recipient, LPCSTR subject);
// Restores the handler that was in place before Install().
CRASHRPT_API void Uninstall();
}
