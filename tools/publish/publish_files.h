// Files and failures of the publishing tool (a native Linux program).
#pragma once

#include <sys/types.h>

#include <string>

namespace publish {

// What makes a command fail: printed, exit code 1.
struct Failure {
  std::string what;
};
[[noreturn]] void Fail(const std::string& what);

bool ReadFile(const std::string& path, std::string& bytes);
// Reads a file or fails naming it.
std::string ReadWhole(const std::string& path);
// Writes through "<path>.new" and a rename, so a reader never sees half a file.
void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);
bool Exists(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// The first line of a text, without its line end.
std::string FirstLine(const std::string& text);

}  // namespace publish
