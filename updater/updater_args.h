// The updater's argument text: one JSON object, plain or in a parameter
// envelope, naming one task. Reading and checking it touches no system state,
// so it is a pure function from the text to the options or a refusal.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Option bits of the updater.
constexpr uint32_t kOptCopy = 1;              // CopyFile the target path to the destination
constexpr uint32_t kOptInstall = 2;           // run the target path as a silent installer
constexpr uint32_t kOptRunAfter = 4;          // start a program afterwards
constexpr uint32_t kOptInstallNoLimit = 16;   // wait for the installer without a limit
constexpr uint32_t kOptWaitRunAfter = 32;     // wait for the program started afterwards
constexpr uint32_t kOptDefault = kOptInstallNoLimit;
constexpr uint32_t kOptCodeMask = 0xFFF0;     // the bits "code" may toggle

// The longest text an argument may hold: paths and command lines live in
// 1040-byte buffers.
constexpr size_t kArgumentTextLimit = 1039;

struct UpdaterArgs {
  uint32_t options = kOptDefault;
  std::string startParams;  // "SP" / "StartParams"
  std::string targetPath;   // "TP" / "TargetPath"
  std::string copyPath;     // "path"
  std::string directory;    // "dir"
  std::string open;         // "open"
  // With "SU": the launcher package's signed SHA-256 ("sha256", 64 hex
  // digits) and size ("size"), which the copy checks itself; none without.
  bool hasDigest = false;
  std::array<uint8_t, 32> digest{};
  int64_t size = -1;
};

struct ParseOutcome {
  bool accepted = false;
  UpdaterArgs args;
  // The line to log when the arguments are refused; empty when the text did
  // not parse as a JSON object (that refusal has no message of its own).
  std::string logLine;
};

// Unwraps the envelope (or takes the text as it is), reads the members with
// their exact JSON types and validates them in order.
ParseOutcome ParseUpdaterArgs(const std::string& commandLine);
