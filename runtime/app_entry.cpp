#include "app_entry.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include "crashrpt.h"
#include "message_loop.h"

#ifndef LUMORA_CRASH_RECIPIENT
#define LUMORA_CRASH_RECIPIENT "crash@lumora.invalid"
#endif
const char kCrashReportRecipient[] = LUMORA_CRASH_RECIPIENT;

namespace {

BOOL CALLBACK CrashCallbackAddsNothing(LPVOID) { return TRUE; }

// The message loop the program runs on its main thread, while it runs.
MessageLoop* g_loop = nullptr;

}  // namespace

int RunApplication(HINSTANCE instance, const char* commandLine, const AppHooks& hooks) {
  Install(CrashCallbackAddsNothing, kCrashReportRecipient, hooks.crashSubject);

  const HRESULT com = CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES;
  InitCommonControlsEx(&controls);
  const HRESULT ole = OleInitialize(nullptr);
  (void)instance;

  int exitCode = -1;
  {
    MessageLoop loop;
    g_loop = &loop;
    if (hooks.initInstance && hooks.initInstance(commandLine ? commandLine : "")) {
      exitCode = loop.Run();
      if (hooks.orderlyEnd) hooks.orderlyEnd();
    } else if (hooks.onInitFailed) {
      hooks.onInitFailed();
    }
    g_loop = nullptr;
  }

  if (SUCCEEDED(ole)) OleUninitialize();
  if (SUCCEEDED(com)) CoUninitialize();
  Uninstall();
  return exitCode;
}
