#include "engine.h"

#include <windows.h>

extern "C" {
#include <lauxlib.h>
#include <lualib.h>
}

#include "lua_call.h"
#include "xlue_text.h"

namespace xlue {

Engine& Engine::Get() {
  static Engine* engine = new Engine();
  return *engine;
}

Engine::Engine() : host_(&Engine::SetupState) {}

int Engine::SetupState(lua_State* L) {
  lua_atpanic(L, &Engine::Panic);
  luaL_openlibs(L);
  InstallMessageHandler(L);
  lua_pushcfunction(L, &Engine::Print);
  lua_setglobal(L, "print");
  Packages::InstallSearcher(L);
  WindowApi::Install(L);
  return 0;
}

// An error outside any protected call: Lua ends the process after this
// returns. Report what can be reported first.
int Engine::Panic(lua_State* L) {
  try {
    Get().ReportError(L"unprotected Lua error", ErrorObjectText(L, -1), {});
  } catch (...) {
  }
  return 0;
}

int Engine::Print(lua_State* L) {
  const int n = lua_gettop(L);
  luaL_checkstack(L, 4, "too many values to print");
  lua_getglobal(L, "tostring");
  lua_pushliteral(L, "");
  for (int i = 1; i <= n; ++i) {
    if (i > 1) {
      lua_pushliteral(L, "\t");
      lua_concat(L, 2);
    }
    lua_pushvalue(L, n + 1);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    if (!lua_isstring(L, -1)) return luaL_error(L, "'tostring' must return a string to 'print'");
    lua_concat(L, 2);
  }
  size_t length = 0;
  const char* text = lua_tolstring(L, -1, &length);
  try {
    Get().AddOutput(std::string(text, length));
  } catch (...) {
  }
  return 0;
}

void Engine::AddOutput(const std::string& text) {
  logs_.AddOutput(SplitLines(ScriptTextToAcp(text)));
  OutputDebugStringW((ScriptTextToWide(text) + L"\n").c_str());
}

void Engine::ReportError(const wchar_t* extra, const std::string& message,
                         const std::vector<std::string>& traceback) {
  std::vector<std::string> lines;
  for (const std::string& entry : traceback) {
    for (std::string& line : SplitLines(ScriptTextToAcp(entry))) lines.push_back(std::move(line));
  }
  const uint32_t handle = logs_.Seal(lines);
  const std::wstring text = ScriptTextToWide(message);
  const XLLRTDebugLog log{handle, 0};
  XLLRT_ErrorCallback handler = handler_;
  if (handler != nullptr) {
    handler(nullptr, extra, text.c_str(), &log);
  } else {
    OutputDebugStringW((L"Lua error: " + text + L"\n").c_str());
  }
  logs_.Discard(handle);
}

void Engine::UninitGraphics() {
  windows_.DestroyAll();
  graphics_.Uninit();
}

int Engine::InitLoader() {
  if (host_.Default(true) == nullptr) return 1;
  loader_ = true;
  return 0;
}

void Engine::UninitLoader() {
  windows_.DestroyAll();
  packages_.Clear();
  loader_ = false;
}

int Engine::XarExists(const char* name) const {
  if (!fileSystem_) return 0;
  std::wstring folder;
  std::string nameUtf8;
  return packages_.Find(name, folder, nameUtf8) ? 1 : 0;
}

int Engine::LoadXar(const char* name) {
  if (!fileSystem_ || !loader_) return kLoadNotReady;
  lua_State* L = MainState();
  if (L == nullptr) return kLoadNotReady;
  return packages_.Load(L, name);
}

void Engine::UninitLuaHost() {
  windows_.DestroyAll();
  packages_.ForgetLoaded();
  host_.CloseDefault();
  logs_.Clear();
  loader_ = false;
}

void Engine::UninitHandleMap() {
  windows_.DestroyAll();
  packages_.ForgetLoaded();
  host_.FreeAll();
  logs_.Clear();
  loader_ = false;
}

}  // namespace xlue
