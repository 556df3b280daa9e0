#include "fatal_error.h"

#include <windows.h>

#include "launcher_app.h"
#include "launcher_module.h"
#include "log_file.h"
#include "operation_engine.h"
#include "operator_texts.h"

// The operator's text (a build setting); by default the design's.
const char kSupportTail[] = LUMORA_SUPPORT_TAIL;

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
