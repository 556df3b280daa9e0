// The engine's process-wide state behind the exports: file system, graphics,
// the package loader, the Lua host, script windows and error reporting.
// Everything runs on the host's user-interface thread.
#pragma once

#include <string>
#include <vector>

#include "debug_log.h"
#include "graphics.h"
#include "lua_host.h"
#include "packages.h"
#include "window_api.h"
#include "xlue.h"

namespace xlue {

class Engine {
 public:
  // Made on first use and never destroyed: at process exit the Lua DLL may be
  // unloaded before this one, so nothing is closed from a static destructor.
  static Engine& Get();

  void InitFileSystem() { fileSystem_ = true; }
  void UninitFileSystem() { fileSystem_ = false; }
  bool FileSystemReady() const { return fileSystem_; }

  Graphics& GetGraphics() { return graphics_; }
  // Closes the script windows, then undoes the graphics set-up.
  void UninitGraphics();

  // Makes the default environment and readies the loader: 0, or 1 when no
  // Lua state could be made.
  int InitLoader();
  // Closes the script windows and forgets search paths and packages.
  void UninitLoader();
  bool LoaderReady() const { return loader_; }

  int AddSearchPath(const wchar_t* folder) { return packages_.AddSearchPath(folder); }
  // 1 when the package is there (and the file system is initialised).
  int XarExists(const char* name) const;
  int LoadXar(const char* name);

  // Closes the script windows and the default Lua state.
  void UninitLuaHost();
  // Frees every handle (closing the Lua state when still open).
  void UninitHandleMap();

  LuaHost& Host() { return host_; }
  lua_State* MainState() const { return host_.MainState(); }
  Packages& GetPackages() { return packages_; }
  WindowApi& Windows() { return windows_; }
  DebugLogStore& Logs() { return logs_; }

  void SetErrorHandler(XLLRT_ErrorCallback handler) { handler_ = handler; }
  // Hands an error to the error handler: the pending script output and the
  // traceback form its debug log, readable while the handler runs.
  void ReportError(const wchar_t* extra, const std::string& message,
                   const std::vector<std::string>& traceback);
  // Script output (print): debug-log lines and the debugger output.
  void AddOutput(const std::string& text);

 private:
  Engine();
  static int SetupState(lua_State* L);
  static int Print(lua_State* L);
  static int Panic(lua_State* L);

  bool fileSystem_ = false;
  bool loader_ = false;
  Graphics graphics_;
  LuaHost host_;
  Packages packages_;
  WindowApi windows_;
  DebugLogStore logs_;
  XLLRT_ErrorCallback handler_ = nullptr;
};

}  // namespace xlue
