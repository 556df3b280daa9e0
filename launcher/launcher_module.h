// The launcher's operation module.
#pragma once

// Every launcher operation is registered in, and posts its successors to,
// this module; the main window's timer pumps it.
constexpr char kLauncherModule[] = "Lumo";

// Error code of an operation called without the arguments it needs.
constexpr int kMissingArguments = 4306;
