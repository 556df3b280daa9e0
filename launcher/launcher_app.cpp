#include "launcher_app.h"

#include <windows.h>

#include "launcher_window.h"
#include "path_util.h"

namespace {
std::unique_ptr<LauncherApp> g_app;
}

uint64_t ProcessClockMs() { return GetTickCount64(); }

std::string LauncherClassName(int32_t unionCode) {
  return "QZ_Lumo_U" + std::to_string(unionCode);
}

std::string HallClassName(int32_t unionCode) { return "QZ_Orlune_U" + std::to_string(unionCode); }

LauncherApp::LauncherApp() {
  startClock = ProcessClockMs();
  exePath = ProgramPath();
  exeDir = ParentFolder(exePath);
  // From here on every relative path of the launcher counts from its folder.
  if (!exeDir.empty()) SetCurrentDirectoryA(exeDir.c_str());
  downloadDir = JoinPath(exeDir, "Download");
  configDir = JoinPath(exeDir, "Config");
}

LauncherApp::~LauncherApp() = default;

LauncherApp& LauncherApp::Get() {
  if (!g_app) g_app.reset(new LauncherApp());
  return *g_app;
}

bool LauncherApp::Exists() { return g_app != nullptr; }

void LauncherApp::Destroy() { g_app.reset(); }

uint32_t LauncherApp::ElapsedMs() const {
  return static_cast<uint32_t>(ProcessClockMs() - startClock);
}

std::string LauncherApp::WindowClassName() const { return LauncherClassName(unionCode); }

std::string LauncherApp::HallClassName() const { return ::HallClassName(unionCode); }
