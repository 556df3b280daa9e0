// The one way the start-up chain fails in front of the user, and giving way
// to a hall that is already running.
#pragma once

#include <string>

// What every fatal message ends with.
extern const char kSupportTail[];

// Shows a fatal message and returns when the user has closed it. The program
// installs its dialog; without one the message is only logged.
using FatalPresenter = void (*)(const std::string& message);
void SetFatalErrorPresenter(FatalPresenter presenter);

// Logs the message, shows it, then ends the message loop with `exitCode`.
void ShowFatalError(const std::string& message, int exitCode);
// ShowFatalError of `firstLine` followed by the support tail, exit code -1.
void FailStart(const std::string& firstLine);

// When a hall of the launcher's union code runs: asks it to show itself,
// posts "Quit" and gives true. Otherwise false.
bool ActivateRunningHall();
