// The launcher's operation "StartProcess": runs a program named by a call
// (built by the launcher, a script or a server reply) and hands the outcome
// to the call's "then".
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <string>

// The call's arguments, each with its default when absent or of another type.
struct StartProcessArgs {
  std::string name;
  std::string path;
  std::string dir;
  std::string params;
  uint32_t waitMs = 0;     // 0 no wait, 0xFFFFFFFF no limit
  bool waitForExit = true;

  static StartProcessArgs FromCall(const Json::Value& call);
};

// What to run, decided without running anything.
struct StartProcessPlan {
  int32_t error = 0;          // 0, or the code to report without running
  std::string commandLine;    // valid when error is 0
  std::string refusal;        // a log line for a refusal, if any
};

struct PathProbe {
  std::function<bool(const std::string&)> fileExists;
  std::function<bool(const std::string&)> folderExists;
};

// Resolves the program and builds the command line: "name" canonicalised;
// a relative one joined to "path", else to an existing "dir", else to the
// program folder. An existing file is run quoted (with "params" after it);
// anything else is run as "name" unchanged.
StartProcessPlan PlanStartProcess(const StartProcessArgs& args, const std::string& programFolder,
                                  const PathProbe& probe);

// The operation handler registered as "StartProcess".
void StartProcessOperation(const std::string& op, Json::Value call);
