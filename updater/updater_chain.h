// The chain of operation calls one updater run executes, and the rules the
// chain's ends follow: the installer's log name and the exit code of "Quit".
// Pure functions; the operations that act on them live in updater_ops.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "updater_args.h"

// The folder below the program folder that receives installer logs.
extern const char kInstallLogFolder[];  // "Log\\Install"

// The last component of `targetPath` (after the last backslash, or after the
// last forward slash when there is no backslash; trailing separators do not
// count) up to its last dot; a component without a dot is taken whole.
std::string InstallerLogStem(const std::string& targetPath);

// "<programDir>\\Log\\Install\\<stem>.log", or "...\\<time>.log" when the
// stem is empty (`nowSeconds`: seconds since 1970, printed as its low 32 bits
// read as a signed number).
std::string InstallerLogPath(const std::string& programDir, const std::string& targetPath,
                             int64_t nowSeconds);

// The first call of the run: CopyFile or Install, then OpenFile when asked
// for, then Quit, each carrying the rest in "then".
Json::Value BuildStartChain(const UpdaterArgs& args, const std::string& programDir,
                            int64_t nowSeconds);

// The exit code "Quit" ends the program with: 0; or from "result"."status"
// (true 0, false -1, an integer itself); replaced by an integer "code".
int32_t QuitExitCode(const Json::Value& call);
