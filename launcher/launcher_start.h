// The launcher's start and end inside the common program entry: settings,
// the single-instance rule, the main window, the operation table and the
// first two operations; and the orderly end.
#pragma once

#include <cstddef>
#include <string>

#include "operation_engine.h"

struct LauncherOperation {
  const char* name;
  OperationHandler handler;
};

// The operations of module "Lumo", in registration order.
const LauncherOperation* LauncherOperations(size_t& count);

// Registers them in module "Lumo"; posts the first two, "Statistics" and
// "StartProcedure" (steps of InitLauncher).
void RegisterLauncherOperations();
void PostFirstOperations();

// The message shown when the command line gives the union code 0.
extern const char kBadParamsMessage[];

// The program's hooks for the common entry.
bool InitLauncher(const char* commandLine);
void EndLauncher();
void CleanUpFailedLauncher();
