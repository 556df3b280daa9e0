// Updater.exe: copies a file over an installed one or runs an installer
// silently, may start a program afterwards, and reports through its exit code.
#include <windows.h>

#include "app_entry.h"
#include "command_tail.h"
#include "log_file.h"
#include "updater_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SetLogFileName(kUpdaterLogFile);
  AppHooks hooks;
  hooks.crashSubject = "Mendor";
  hooks.initInstance = InitUpdater;
  hooks.orderlyEnd = EndUpdater;
  hooks.onInitFailed = ReportUpdaterInitFailed;
  // Not WinMain's text: it cuts an unquoted Chinese program path apart.
  return RunApplication(instance, ProgramArguments().c_str(), hooks);
}
