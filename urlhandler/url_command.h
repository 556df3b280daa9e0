// What Portus does with its command text, decided without touching the
// system: the text comes from a web page and is treated as hostile input.
#pragma once

#include <cstdint>
#include <string>

#include "command_tail.h"

// The launcher started from the program folder.
constexpr char kLauncherFileName[] = "Lumora.exe";
// WM_COPYDATA identifier of a URL handed to a running program.
constexpr uintptr_t kUrlCopyDataId = 2124;

enum class UrlAction {
  kExit,            // nothing to do: exit with `exitCode`
  kStartLauncher,   // start the launcher with `launcherParams`
  kSendOrStart,     // send `url` to a window of class `scheme`; when there is
                    // none, start the launcher with `launcherParams`
};

struct UrlDecision {
  UrlAction action = UrlAction::kExit;
  int32_t exitCode = -1;        // kExit only
  std::string scheme;           // kSendOrStart: the window class to look for
  std::string url;              // kSendOrStart: the bytes to send
  std::string launcherParams;   // plain styled JSON text; empty: no argument
};


// Turns the command-line tail into a decision. Never fails; any byte string
// (control characters, zero bytes, any length) is accepted.
UrlDecision DecideUrlCommand(const std::string& commandText);

// The standard decimal conversion of a text's leading number (leading blanks,
// an optional sign, digits; anything after them ignored), held to the signed
// 32-bit range instead of overflowing. 0 when there is no number.
int32_t LeadingNumber(const std::string& text);

// The launcher's command line: "\"<folder>\\Lumora.exe\" <envelope>", the
// envelope of `launcherParams`, or nothing after the blank when they are
// empty. The envelope's alphabet ("MD", digits, "A"-"V") holds no quote or
// blank, so the argument can never leave its place.
std::string LauncherCommandLine(const std::string& folder, const std::string& launcherParams);
