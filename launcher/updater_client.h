// Starting the updater: the argument objects the launcher hands it (in a
// parameter envelope) for installing a package and for replacing the
// launcher itself.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// The updater beside the launcher.
constexpr char kUpdaterFileName[] = "Updater.exe";

// {"SI":true,"TP":package[,"dir":folder][,"SR":true,"open":program[,"SP":params]]}
Json::Value InstallObject(const std::string& package, const std::string& folder,
                          const std::string& program, const std::string& params);
// {"SU":true[,"SR":true[,"SP":params]],"TP":package,"path":launcher
//  [,"sha256":digest,"size":size]}: with a digest (a build with keys) the
// updater copies the package only as the bytes it verified itself.
Json::Value ReplaceObject(const std::string& package, const std::string& launcher, bool restart,
                          const std::string& params, const std::string& sha256 = std::string(),
                          int64_t size = -1);

// Starts "Updater.exe" from the launcher's folder with `argumentText` in the
// envelope; waits for its end when `wait`. 0 success; 2 no updater; 4306 no
// argument; otherwise the runner's code (-1 not started, or the updater's
// non-zero exit code).
int32_t RunUpdater(const std::string& argumentText, bool wait);
int32_t InstallPackage(const std::string& package, const std::string& folder,
                       const std::string& program, const std::string& params, bool wait);
// Never waits: the launcher ends while the updater copies.
int32_t ReplaceLauncher(const std::string& package, const std::string& launcher, bool restart,
                        const std::string& params, const std::string& sha256 = std::string(),
                        int64_t size = -1);
