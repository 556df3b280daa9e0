// Paths and command lines of the updater's operations. Paths live in
// 1040-byte buffers, the command lines of Install and OpenFile in 1040-byte
// buffers and that of StartProcess in a 2080-byte one; a text that does not
// fit is refused (false), never cut into a different path or command.
#pragma once

#include <string>

// Windows' "file name too long" code, the error of a refused path.
constexpr int kPathTooLongError = 206;  // ERROR_FILENAME_EXCED_RANGE

// Canonicalises `text` ("." and ".." resolved, "/" as "\\").
bool CanonicalPath(const std::string& text, std::string& out);

// Canonicalises `text` and, when the result is relative, joins it to `base`
// and canonicalises the joined path.
bool ResolvePath(const std::string& text, const std::string& base, std::string& out);

// `path` with exactly one trailing backslash added when it has none.
std::string WithTrailingBackslash(const std::string& path);

// "\"<package>\" /SILENT, /VERYSILENT /DIR=\"<dir>\"" and, with a log file,
// " /LOG=\"<log>\"" after it.
bool FormatInstallCommand(const std::string& package, const std::string& dir,
                          const std::string& log, std::string& out);

// "\"<target>\" <params>", or "\"<target>\"" without params.
bool FormatOpenCommand(const std::string& target, const std::string& params, std::string& out);

// "<folder>\\<name> <params>" (the name is not quoted).
bool FormatStartProcessCommand(const std::string& folder, const std::string& name,
                               const std::string& params, std::string& out);
