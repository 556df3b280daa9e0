// The updater's application object and its start and end inside the common
// program entry: folders, accepted arguments, the hidden "QZ_Mendor" window
// that pumps module "Mendor".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app_window.h"
#include "updater_args.h"

extern const char kUpdaterModule[];       // "Mendor"
extern const char kUpdaterWindowClass[];  // "QZ_Mendor"
extern const char kUpdaterLogFile[];      // "Log\\updater.log"

class UpdaterApp {
 public:
  // The one instance, built on first use.
  static UpdaterApp& Get();
  // Ends the instance (part of the orderly end); the next Get builds a new one.
  static void Destroy();

  uint32_t options = kOptDefault;
  std::string startParams;
  std::string targetPath;
  std::string copyPath;
  std::string directory;
  std::string open;
  bool hasDigest = false;  // "sha256"/"size" of a package to copy
  std::array<uint8_t, 32> digest{};
  int64_t size = -1;
  std::string programPath;
  std::string programDir;
  std::string downloadDir;  // computed for completeness; the operations use programDir
  std::string configDir;
  std::unique_ptr<APPWnd> frame;

  // Finds the program's folders and makes the program folder current.
  bool FindFolders();
  void TakeArgs(const UpdaterArgs& args);
};

// The program's hooks for the common entry.
bool InitUpdater(const char* commandLine);
void EndUpdater();
void ReportUpdaterInitFailed();
