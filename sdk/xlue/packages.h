// Skin packages: a package named N is the folder N in one of the search
// paths, holding the entry script "onload.lua". Loading runs that script
// once (protected). The scripts of a package load its other files with
// `require`: require("a.b") runs "<package folder>\a\b.lua" of the package
// whose script calls it. All file access goes through UTF-16 paths, so
// folders with Chinese names work in every code page.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <lua.h>
}

namespace xlue {

enum SearchPathResult : int {
  kSearchPathOk = 0,       // added, or there already
  kSearchPathEmpty = 1,    // null or empty
  kSearchPathMissing = 2,  // not an existing folder
  kSearchPathBad = 3,      // no full path can be made of it
};

enum LoadResult : int {
  kLoadOk = 0,            // loaded now or before
  kLoadNotReady = 1,      // the file system or the loader is not initialised
  kLoadNotFound = 2,      // no package of that name (or not a valid name)
  kLoadUnreadable = 3,    // onload.lua could not be read
  kLoadScriptError = 4,   // onload.lua failed to compile or raised an error (reported)
};

class Packages {
 public:
  int AddSearchPath(const wchar_t* folder);
  const std::vector<std::wstring>& SearchPaths() const { return paths_; }

  // The folder of package `nameAcp` (system code page) in the first search
  // path that has it, and the name in UTF-8. False when there is none.
  bool Find(const char* nameAcp, std::wstring& folder, std::string& nameUtf8) const;

  // Runs the package's onload.lua with the package name and folder (UTF-8)
  // as arguments. A package loaded before is not run again.
  int Load(lua_State* L, const char* nameAcp);

  // Forgets the search paths and the loaded packages.
  void Clear();
  // Forgets the loaded packages only (their Lua state is gone).
  void ForgetLoaded();

  // Adds the package searcher to `package.loaders` (second, after the
  // preload table) and empties package.path and package.cpath, so `require`
  // loads package files only. Run inside a protected call.
  static void InstallSearcher(lua_State* L);

 private:
  static int Searcher(lua_State* L);
  // Pushes the module's loader or the reason it is not here (true), or an
  // error message (false).
  static bool SearchModule(lua_State* L);

  std::vector<std::wstring> paths_;
  std::map<std::string, std::wstring> folders_;  // UTF-8 name → folder of loading or loaded packages
  std::set<std::string> loaded_;
};

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

}  // namespace xlue
