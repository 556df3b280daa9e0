// Portus: started by the system for a link of the product's URL scheme. It
// hands the URL to a running program of the product, or starts the launcher
// with enveloped parameters, and exits. No window, no message loop.
#include <windows.h>

#include <string>

#include "app_entry.h"
#include "crashrpt.h"
#include "log_file.h"
#include "path_util.h"
#include "process_runner.h"
#include "url_command.h"

namespace {

BOOL CALLBACK CrashCallbackAddsNothing(LPVOID) { return TRUE; }

int32_t StartLauncher(const std::string& folder, const std::string& launcherParams) {
  return RunProcess(LauncherCommandLine(folder, launcherParams), folder, 0, true);
}

// Hands the URL to a window of the scheme's class; false when there is none.
bool SendToRunningProgram(const std::string& scheme, const std::string& url) {
  if (scheme.empty()) return false;
  HWND window = FindWindowA(scheme.c_str(), nullptr);
  if (window == nullptr) return false;
  COPYDATASTRUCT data{};
  data.dwData = kUrlCopyDataId;
  data.cbData = static_cast<DWORD>(url.size());
  data.lpData = const_cast<char*>(url.data());
  // What the receiver makes of it is its own business.
  SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  return true;
}

int HandleCommandText(const std::string& commandText) {
  const UrlDecision decision = DecideUrlCommand(commandText);
  switch (decision.action) {
    case UrlAction::kExit:
      return decision.exitCode;
    case UrlAction::kSendOrStart:
      if (SendToRunningProgram(decision.scheme, decision.url)) return 0;
      break;
    case UrlAction::kStartLauncher:
      break;
  }
  return StartLauncher(ProgramFolder(), decision.launcherParams);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Install(CrashCallbackAddsNothing, kCrashReportRecipient, "Portus");
  // Relative paths (the log) count from the program folder. Should that fail,
  // the launcher is still looked for beside the program.
  EnterProgramFolder();
  SetLogFileName("Log\\portus.log");

  // The tail is taken from the whole command line here: the one handed to
  // WinMain ends the program's name at its first non-ASCII byte.
  const int exitCode = HandleCommandText(ProgramArguments());

  Uninstall();
  return exitCode;
}
