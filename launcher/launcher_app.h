// LauncherApp: the launcher's application object. Its settings come from the
// command line; its folders from the program's own path. Built on first use,
// destroyed in the orderly end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "command_line.h"
#include "lumora_version.h"

class LauncherWindow;

// The launcher's own build number: sent to the endpoints and compared with
// the newest launcher version by the endpoint. Set in cmake/Version.cmake,
// which gives every shipped file's version resource the same number.
constexpr int32_t kLauncherBuildNumber = LUMORA_BUILD_NUMBER;

class LauncherApp : public LauncherSettings {
 public:
  // The one instance. The first call builds it: reads the start clock, finds
  // the program's path and folders and makes the program folder current.
  static LauncherApp& Get();
  // True while an instance exists.
  static bool Exists();
  // Deletes the instance; the next Get builds a new one.
  static void Destroy();

  ~LauncherApp();

  // Milliseconds since the object was built.
  uint32_t ElapsedMs() const;

  // "QZ_Lumo_U<unionCode>" and "QZ_Orlune_U<unionCode>".
  std::string WindowClassName() const;
  std::string HallClassName() const;

  void TakeSettings(const LauncherSettings& settings) {
    static_cast<LauncherSettings&>(*this) = settings;
  }

  std::string exePath;      // canonical full path of the program
  std::string exeDir;       // its folder, the current directory
  std::string downloadDir;  // exeDir\Download
  std::string configDir;    // exeDir\Config
  std::unique_ptr<LauncherWindow> mainWindow;
  uint64_t startClock = 0;  // process clock (ms) when built

 private:
  LauncherApp();
};

// The process clock in milliseconds (monotonic).
uint64_t ProcessClockMs();

// "QZ_Lumo_U%d" / "QZ_Orlune_U%d" for a union code.
std::string LauncherClassName(int32_t unionCode);
std::string HallClassName(int32_t unionCode);
