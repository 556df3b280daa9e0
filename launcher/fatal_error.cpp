#include "fatal_error.h"

#include <windows.h>

#include "launcher_app.h"
#include "launcher_module.h"
#include "log_file.h"
#include "operation_engine.h"

const char kSupportTail[] = "\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)";

namespace {
FatalPresenter g_presenter = nullptr;
}

void SetFatalErrorPresenter(FatalPresenter presenter) { g_presenter = presenter; }

void ShowFatalError(const std::string& message, int exitCode) {
  WriteLog(message.c_str());
  if (g_presenter != nullptr) g_presenter(message);
  PostQuitMessage(exitCode);
}

void FailStart(const std::string& firstLine) { ShowFatalError(firstLine + kSupportTail, -1); }

bool ActivateRunningHall() {
  HWND hall = FindWindowA(LauncherApp::Get().HallClassName().c_str(), nullptr);
  if (hall == nullptr) return false;
  PostMessageA(hall, WM_SHOWWINDOW, 1, 0);
  PostOperation(kLauncherModule, "Quit");
  return true;
}
