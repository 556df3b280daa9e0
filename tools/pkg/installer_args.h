// The command line a silent-installer package understands:
//   "<pkg>" /SILENT, /VERYSILENT /DIR="<folder>" [/LOG="<file>"]
// A quoted value runs to the next quote: a folder given as "C:\dir\" keeps its
// trailing backslash (the usual argv rules would read \" as a quote).
#pragma once

#include <string>

struct InstallerArgs {
  bool silent = false;
  bool verySilent = false;
  bool hasDir = false;
  std::string dir;
  std::string log;
  std::string unknown;  // the first switch not understood, if any
};

// Parses the command-line tail (the text after the program's name).
InstallerArgs ParseInstallerArgs(const std::string& tail);

// The text after the program's name in a whole command line.
std::string CommandLineTail(const std::string& commandLine);
