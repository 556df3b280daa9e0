// The path functions that ask the system: file-system queries and the
// running program's own path.
#include <windows.h>

#include "path_util.h"

namespace {

DWORD Attributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesA(path.c_str());
}

}  // namespace

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool FileExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ProgramPath() {
  char buffer[kPathBufferSize];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return CanonicalizePath(std::string(buffer, n));
}

std::string ProgramFolder() { return ParentFolder(ProgramPath()); }

bool EnterProgramFolder() {
  const std::string folder = ProgramFolder();
  return !folder.empty() && SetCurrentDirectoryA(folder.c_str()) != FALSE;
}
