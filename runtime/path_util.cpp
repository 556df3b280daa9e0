#include "path_util.h"

#include <windows.h>

#include <vector>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDrive(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Length of the root prefix that ".." never removes.
size_t RootLength(const std::string& p) {
  if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
    // \\server\share\ : two more parts belong to the root.
    size_t i = 2;
    for (int parts = 0; parts < 2 && i < p.size(); ++parts) {
      while (i < p.size() && !IsSeparator(p[i])) ++i;
      if (i < p.size()) ++i;
    }
    return i;
  }
  if (HasDrive(p)) return (p.size() >= 3 && IsSeparator(p[2])) ? 3 : 2;
  if (!p.empty() && IsSeparator(p[0])) return 1;
  return 0;
}

DWORD Attributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesA(path.c_str());
}

}  // namespace

std::string CanonicalizePath(const std::string& path) {
  const size_t rootLength = RootLength(path);
  std::string root = path.substr(0, rootLength);
  for (char& c : root)
    if (c == '/') c = '\\';
  std::vector<std::string> parts;
  size_t i = rootLength;
  while (i <= path.size()) {
    size_t end = i;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string part = path.substr(i, end - i);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (rootLength == 0) {
        parts.push_back(part);  // a relative path may start above its base
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = end + 1;
  }
  std::string out = root;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += '\\';
    out += parts[k];
  }
  // Keep a trailing separator when the input named a folder that way.
  if (!parts.empty() && !path.empty() && IsSeparator(path.back())) out += '\\';
  return out;
}

bool IsRelativePath(const std::string& path) {
  if (path.empty()) return true;
  return !(IsSeparator(path[0]) || HasDrive(path));
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  std::string out = dir;
  if (!IsSeparator(out.back())) out += '\\';
  size_t skip = 0;
  while (skip < name.size() && IsSeparator(name[skip])) ++skip;
  out.append(name, skip, std::string::npos);
  return out;
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && HasDrive(path)) return path.substr(0, 3);  // "C:\" stays a root
  return path.substr(0, slash);
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

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
