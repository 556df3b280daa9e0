#include "packages.h"

#include <windows.h>

extern "C" {
#include <lauxlib.h>
}

#include "engine.h"
#include "lua_call.h"
#include "scoped_handle.h"
#include "xlue_names.h"
#include "xlue_text.h"

namespace xlue {

namespace {

constexpr wchar_t kEntryScript[] = L"onload.lua";
// A package file is a script, not a data store.
constexpr DWORD kMaxScriptBytes = 16u * 1024 * 1024;

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DropByteOrderMark(std::string& code) {
  if (code.compare(0, 3, "\xEF\xBB\xBF") == 0) code.erase(0, 3);
}

// The package whose script called `require`: the nearest Lua function on the
// stack whose chunk name is that of a package file.
std::string CallingPackage(lua_State* L) {
  lua_Debug ar;
  for (int level = 1; lua_getstack(L, level, &ar); ++level) {
    lua_getinfo(L, "S", &ar);
    if (*ar.what == 'C') continue;
    const std::string package = PackageOfChunkName(ar.source != nullptr ? ar.source : "");
    if (!package.empty()) return package;
  }
  return std::string();
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxScriptBytes) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
       got != bytes.size())) {
    bytes.clear();
    return false;
  }
  return true;
}

int Packages::AddSearchPath(const wchar_t* folder) {
  if (folder == nullptr || folder[0] == L'\0') return kSearchPathEmpty;
  const DWORD needed = GetFullPathNameW(folder, 0, nullptr, nullptr);
  if (needed == 0) return kSearchPathBad;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(folder, needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return kSearchPathBad;
  full.resize(length);
  // No trailing separator, except for a root such as "C:\".
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  if (!IsFolder(full)) return kSearchPathMissing;
  for (const std::wstring& known : paths_) {
    if (CompareStringOrdinal(known.c_str(), -1, full.c_str(), -1, TRUE) == CSTR_EQUAL) {
      return kSearchPathOk;
    }
  }
  paths_.push_back(full);
  return kSearchPathOk;
}

bool Packages::Find(const char* nameAcp, std::wstring& folder, std::string& nameUtf8) const {
  folder.clear();
  nameUtf8.clear();
  std::wstring name;
  if (nameAcp == nullptr || !AcpToWide(nameAcp, name) || !IsValidPackageName(name)) return false;
  for (const std::wstring& path : paths_) {
    std::wstring candidate = path;
    if (candidate.back() != L'\\') candidate += L'\\';
    candidate += name;
    if (IsFile(candidate + L"\\" + kEntryScript)) {
      folder = candidate;
      nameUtf8 = WideToUtf8(name);
      return true;
    }
  }
  return false;
}

int Packages::Load(lua_State* L, const char* nameAcp) {
  std::wstring folder;
  std::string name;
  if (!Find(nameAcp, folder, name)) return kLoadNotFound;
  if (loaded_.count(name) != 0) return kLoadOk;
  std::string code;
  if (!ReadWholeFile(folder + L"\\" + kEntryScript, code)) return kLoadUnreadable;
  DropByteOrderMark(code);

  const std::string chunkName = PackageChunkName(name, "onload.lua");
  const std::string folderUtf8 = WideToUtf8(folder);
  folders_[name] = folder;  // `require` works while onload.lua runs
  if (!lua_checkstack(L, 5)) {
    folders_.erase(name);
    return kLoadScriptError;
  }
  const int top = lua_gettop(L);
  if (luaL_loadbuffer(L, code.data(), code.size(), chunkName.c_str()) != 0) {
    const std::string message = ErrorObjectText(L, -1);
    lua_settop(L, top);
    folders_.erase(name);
    Engine::Get().ReportError(nullptr, message, {});
    return kLoadScriptError;
  }
  lua_pushlstring(L, name.data(), name.size());
  lua_pushlstring(L, folderUtf8.data(), folderUtf8.size());
  const int status = ProtectedCall(L, 2, 0, nullptr);
  lua_settop(L, top);
  if (status != 0) {
    folders_.erase(name);
    return kLoadScriptError;
  }
  loaded_.insert(name);
  return kLoadOk;
}

void Packages::Clear() {
  paths_.clear();
  folders_.clear();
  loaded_.clear();
}

void Packages::ForgetLoaded() {
  folders_.clear();
  loaded_.clear();
}

void Packages::InstallSearcher(lua_State* L) {
  lua_getglobal(L, "package");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return;
  }
  lua_pushliteral(L, "");
  lua_setfield(L, -2, "path");
  lua_pushliteral(L, "");
  lua_setfield(L, -2, "cpath");
  lua_getfield(L, -1, "loaders");
  if (lua_istable(L, -1)) {
    const int count = static_cast<int>(lua_objlen(L, -1));
    for (int i = count; i >= 2; --i) {  // make room at 2
      lua_rawgeti(L, -1, i);
      lua_rawseti(L, -2, i + 1);
    }
    lua_pushcfunction(L, Searcher);
    lua_rawseti(L, -2, 2);
  }
  lua_pop(L, 2);
}

int Packages::Searcher(lua_State* L) {
  luaL_checkstring(L, 1);
  if (SearchModule(L)) return 1;
  return lua_error(L);  // no C++ object lives in this frame
}

bool Packages::SearchModule(lua_State* L) {
  const char* moduleName = lua_tostring(L, 1);
  enum { kNotHere, kRead, kBadFile } outcome = kNotHere;
  std::string code;
  std::string chunkName;
  std::string detail;
  try {
    const std::string package = CallingPackage(L);
    const Packages& self = Engine::Get().GetPackages();
    auto it = self.folders_.find(package);
    std::wstring module;
    std::wstring relative;
    if (package.empty() || it == self.folders_.end()) {
      detail = "\n\tno package script called require";
    } else if (!Utf8ToWide(moduleName, module) || !ModuleFilePath(module, relative)) {
      detail = "\n\tno module name of package '" + package + "'";
    } else if (!Engine::Get().FileSystemReady()) {
      detail = "\n\tthe engine's file system is not initialised";
    } else {
      const std::wstring path = it->second + L"\\" + relative;
      const std::string shown = WideToUtf8(ModuleChunkPath(relative));
      if (!IsFile(path)) {
        detail = "\n\tno file '" + shown + "' in package '" + package + "'";
      } else if (!ReadWholeFile(path, code)) {
        outcome = kBadFile;
        detail = "cannot read '" + shown + "' of package '" + package + "'";
      } else {
        DropByteOrderMark(code);
        chunkName = PackageChunkName(package, shown);
        outcome = kRead;
      }
    }
  } catch (...) {
    outcome = kBadFile;
    detail = "out of memory";
  }
  if (outcome == kNotHere) {
    lua_pushlstring(L, detail.data(), detail.size());
    return true;
  }
  if (outcome == kRead) {
    if (luaL_loadbuffer(L, code.data(), code.size(), chunkName.c_str()) == 0) return true;
    detail = ErrorObjectText(L, -1);
    lua_pop(L, 1);
  }
  lua_pushfstring(L, "error loading module '%s':\n\t%s", moduleName, detail.c_str());
  return false;
}

}  // namespace xlue
