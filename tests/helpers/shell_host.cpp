// Test helper: a windowed program built from the shared frame.
//   shell_host <class name> <marker file>
// Runs the program entry with a hidden APPWnd of that class pumping module
// "Host"; the orderly end writes "orderly end" to the marker file.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app_entry.h"
#include "app_window.h"

namespace {

std::string g_className;
std::string g_marker;
std::unique_ptr<APPWnd> g_window;

bool InitInstance(const char*) {
  g_window = std::make_unique<APPWnd>("Host");
  return g_window->Create(g_className);
}

void OrderlyEnd() {
  g_window.reset();
  if (FILE* f = std::fopen(g_marker.c_str(), "wb")) {
    std::fputs("orderly end", f);
    std::fclose(f);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  if (__argc < 3) return 2;
  g_className = __argv[1];
  g_marker = __argv[2];
  AppHooks hooks;
  hooks.crashSubject = "ShellHost";
  hooks.initInstance = InitInstance;
  hooks.orderlyEnd = OrderlyEnd;
  return RunApplication(instance, commandLine, hooks);
}
