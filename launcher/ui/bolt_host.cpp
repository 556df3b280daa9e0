#include "bolt_host.h"

#include <windows.h>

#include <io.h>

#include <memory>

#include "global_objects.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "log_file.h"
#include "lua_bridge.h"
#include "operation_engine.h"
#include "path_util.h"
#include "text_codec.h"

namespace {

std::unique_ptr<BoltHost> g_host;
volatile LONG g_reportingError = 0;

}  // namespace

BoltHost& BoltHost::Get() {
  if (!g_host) g_host = std::make_unique<BoltHost>();
  return *g_host;
}

bool BoltHost::EngineInitialised() { return g_host && g_host->initialised_; }

bool BoltHost::InitEngine() {
  if (XLFS_Init() != 0) return false;
  XLGraphicParam graphics{};
  XL_PrepareGraphicParam(&graphics);
  graphics.mode = 1;
  if (XL_InitGraphicLib(&graphics) != 0) return false;
  XL_SetFreeTypeEnabled(1);
  if (XLUE_InitLoader(nullptr) != 0) return false;
  XLLRT_ErrorHandle(LuaErrorHandler);
  if (!RegisterChunkRegistryObject()) return false;
  initialised_ = true;
  return true;
}

void BoltHost::Shutdown(bool withdrawApp) {
  if (!EngineInitialised()) return;
  GlobalObjectRegistry& registry = GlobalObjectRegistry::Get();
  if (withdrawApp) registry.Withdraw(kAppObjectName);
  registry.WithdrawAll();
  // Chunk references live in the engine's Lua state and die with it.
  ChunkRegistry::Get().Clear();
  XLUE_Uninit(nullptr);
  XLUE_UninitLuaHost(nullptr);
  XL_UnInitGraphicLib();
  XLUE_UninitHandleMap(nullptr);
  XLFS_Uninit();
  g_host.reset();
}

std::string XarSearchPath(const std::string& programFolder) {
  return CanonicalizePath(JoinPath(programFolder, ".\\xar\\"));
}

std::wstring LuaErrorText(const wchar_t* error, const wchar_t* extra) {
  std::wstring text = error ? error : L"";
  if (extra != nullptr && *extra != 0) text += std::wstring(L" @ ") + extra;
  return text;
}

int XLUE_CALL LuaErrorHandler(void*, const wchar_t* extra, const wchar_t* error,
                              const XLLRTDebugLog* log) {
  // A second error raised while one is being reported is dropped.
  if (InterlockedCompareExchange(&g_reportingError, 1, 0) != 0) return 0;
  try {
    const std::string text = WideToAnsi(LuaErrorText(error, extra));
    std::string lines;
    if (log != nullptr && log->logHandle != 0) {
      const char* line = nullptr;
      while (XLLRT_DebugLogsPopNextLog(&line, log->logHandle) == 0 && line != nullptr) {
        lines += line;
        line = nullptr;
      }
    }
    WriteLogF("【LUA错误】\r\n%s\r\n%s", text.c_str(), lines.c_str());
  } catch (...) {
  }
  InterlockedExchange(&g_reportingError, 0);
  return 0;
}

int32_t LoadXar(const std::string& name) {
  if (name.empty()) return kMissingArguments;
  if (XLUE_XARExist(name.c_str()) != 1) {
    WriteLogF("BOLT XAR包加载错误!无效的XAR包名或不存在[%s]", name.c_str());
    return kXarMissing;
  }
  if (XLUE_LoadXAR(name.c_str()) != 0) {
    WriteLogF("BOLT XAR包加载错误![%s].", name.c_str());
    return kXarLoadFailed;
  }
  WriteLogF("BOLT 成功加载XAR包[%s]", name.c_str());
  return kXarLoaded;
}

void BoltInitOperation(const std::string&, Json::Value call) {
  if (!BoltHost::EngineInitialised()) {
    const bool up = BoltHost::Get().InitEngine();
    WriteLogF("BOLT初始化[%s] Lualib:%d", up ? "成功" : "失败", rt::IntMember(call, "code", 0));
    if (up) PublishAppObject();
    const std::string path = XarSearchPath(LauncherApp::Get().exeDir);
    const bool added = _access(path.c_str(), 4) == 0 &&
                       XLUE_AddXARSearchPath(AnsiToWide(path).c_str()) == 0;
    WriteLogF("设置XAR包搜索路径(%s)[%s]", path.c_str(), added ? "成功" : "失败");
  }
  PostThen(kLauncherModule, call);
}

void BoltLoadXarOperation(const std::string&, Json::Value call) {
  const int32_t error = LoadXar(rt::StringMember(call, "name"));
  PostThen(kLauncherModule, call, ErrorResult(error));
}

void BoltUninitOperation(const std::string&, Json::Value) { BoltHost::Shutdown(true); }
