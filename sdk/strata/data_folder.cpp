#include "data_folder.h"

#include <windows.h>

#include <cstring>

#include "code_page.h"

namespace strata {

namespace {

// Guards the chosen folder; the library may be used from more than one thread.
struct FolderState {
  FolderState() { InitializeCriticalSection(&lock); }
  ~FolderState() { DeleteCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::string folder;
};

FolderState& State() {
  static FolderState state;
  return state;
}

std::string ProgramFolder() {
  char path[1040];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".";
  std::string full(path, n);
  const size_t slash = cp936::FindLastOf(full, "\\/");
  return slash == std::string::npos ? std::string(".") : full.substr(0, slash);
}

}  // namespace

std::string DataFolder() {
  FolderState& state = State();
  EnterCriticalSection(&state.lock);
  std::string folder = state.folder;
  LeaveCriticalSection(&state.lock);
  return folder.empty() ? ProgramFolder() : folder;
}

void SetDataFolder(const char* folder) {
  FolderState& state = State();
  std::string chosen = folder ? folder : "";
  while (chosen.size() > 1 && cp936::EndsWithOneOf(chosen, "\\/")) chosen.pop_back();
  EnterCriticalSection(&state.lock);
  state.folder = chosen;
  LeaveCriticalSection(&state.lock);
}

bool MakeInstancePath(const std::string& folder, const char* name, std::string& path) {
  if (name == nullptr || *name == 0 || std::strcmp(name, ".") == 0 ||
      std::strcmp(name, "..") == 0)
    return false;
  // The second byte of a double-byte character may be 0x5c or 0x7c, the same
  // as '\\' and '|': it belongs to its character and is not looked at.
  const std::string_view text(name);
  for (size_t i = 0; i < text.size(); i = cp936::NextChar(text, i)) {
    if (cp936::CharLength(text, i) == 2) continue;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  path = folder + "\\Config\\" + name + ".db";
  return true;
}

bool EnsureFolder(const std::string& folder) {
  if (folder.empty()) return true;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::string parent = ParentFolder(folder);
  // Stop at a drive ("C:") or a share root: those exist or cannot be made.
  if (!parent.empty() && parent != folder && !cp936::EndsWithOneOf(parent, ":"))
    EnsureFolder(parent);
  if (CreateDirectoryA(folder.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = cp936::FindLastOf(path, "\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace strata
