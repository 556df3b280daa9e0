// Lumora.exe, the launcher: reports the start, identifies the computer, asks
// the configuration endpoint what to do, brings its components up to date
// through the updater, starts the game hall and ends.
#include <windows.h>

#include "app_entry.h"
#include "command_tail.h"
#include "launcher_start.h"
#include "log_file.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SetLogFileName("Log\\starter.log");
  AppHooks hooks;
  hooks.crashSubject = "Lumora";
  hooks.initInstance = InitLauncher;
  hooks.orderlyEnd = EndLauncher;
  hooks.onInitFailed = CleanUpFailedLauncher;
  // Not WinMain's text: it cuts an unquoted Chinese program path apart.
  return RunApplication(instance, ProgramArguments().c_str(), hooks);
}
