// Files and failures of the publishing tool (a native Linux program): whole
// files in and out, folders made as needed, and the failure that ends a
// command.
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
// Makes `folder` and the folders above it as needed; false when it cannot.
bool MakeFolders(const std::string& folder);
// "folder/name" with one slash between.
std::string JoinPath(const std::string& folder, const std::string& name);
// The first line of a text, without its line end.
std::string FirstLine(const std::string& text);

}  // namespace publish

namespace site {

inline bool ReadWholeFile(const std::string& path, std::string& bytes) {
  return publish::ReadFile(path, bytes);
}
// Writes `bytes` to `path`, making its folders; false on any failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
using publish::JoinPath;

}  // namespace site
