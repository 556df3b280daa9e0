// The exported calls. Each one catches everything: no exception leaves the
// library. Results follow xlue.h; the codes beyond it are in the README.
#include <windows.h>

#include "engine.h"
#include "global_objects.h"
#include "graphics.h"
#include "lua_call.h"
#include "xlue.h"

namespace {

using xlue::Engine;

// Runs `body`, giving `failure` when it throws.
template <typename Result, typename Body>
Result Guarded(Result failure, Body body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

constexpr int kFailed = -1;

}  // namespace

XLUE_API int XLUE_CALL XLFS_Init() {
  return Guarded(kFailed, [] {
    Engine::Get().InitFileSystem();
    return 0;
  });
}

XLUE_API int XLUE_CALL XLFS_Uninit() {
  return Guarded(kFailed, [] {
    Engine::Get().UninitFileSystem();
    return 0;
  });
}

XLUE_API int XLUE_CALL XL_PrepareGraphicParam(XLGraphicParam* param) {
  return Guarded(kFailed, [param] {
    if (param == nullptr) return 1;
    xlue::PrepareGraphicParam(*param);
    return 0;
  });
}

XLUE_API int XLUE_CALL XL_InitGraphicLib(const XLGraphicParam* param) {
  return Guarded(kFailed, [param] { return Engine::Get().GetGraphics().Init(param); });
}

XLUE_API int XLUE_CALL XL_SetFreeTypeEnabled(int enabled) {
  return Guarded(kFailed, [enabled] {
    Engine::Get().GetGraphics().SetFreeTypeEnabled(enabled != 0);
    return 0;
  });
}

XLUE_API int XLUE_CALL XL_UnInitGraphicLib() {
  return Guarded(kFailed, [] {
    Engine::Get().UninitGraphics();
    return 0;
  });
}

XLUE_API int XLUE_CALL XLUE_InitLoader(void*) {
  return Guarded(kFailed, [] { return Engine::Get().InitLoader(); });
}

XLUE_API int XLUE_CALL XLUE_AddXARSearchPath(const wchar_t* folder) {
  return Guarded(kFailed, [folder] { return Engine::Get().AddSearchPath(folder); });
}

XLUE_API int XLUE_CALL XLUE_XARExist(const char* name) {
  return Guarded(0, [name] { return Engine::Get().XarExists(name); });
}

XLUE_API int XLUE_CALL XLUE_LoadXAR(const char* name) {
  return Guarded(kFailed, [name] { return Engine::Get().LoadXar(name); });
}

XLUE_API int XLUE_CALL XLUE_Uninit(void*) {
  return Guarded(kFailed, [] {
    Engine::Get().UninitLoader();
    return 0;
  });
}

XLUE_API int XLUE_CALL XLUE_UninitLuaHost(void*) {
  return Guarded(kFailed, [] {
    Engine::Get().UninitLuaHost();
    return 0;
  });
}

XLUE_API int XLUE_CALL XLUE_UninitHandleMap(void*) {
  return Guarded(kFailed, [] {
    Engine::Get().UninitHandleMap();
    return 0;
  });
}

XLUE_API int XLUE_CALL XLLRT_ErrorHandle(XLLRT_ErrorCallback handler) {
  return Guarded(kFailed, [handler] {
    Engine::Get().SetErrorHandler(handler);
    return 0;
  });
}

XLUE_API int XLUE_CALL XLLRT_DebugLogsPopNextLog(const char** line, uint32_t logHandle) {
  return Guarded(1, [line, logHandle] {
    if (line == nullptr) return 1;
    *line = Engine::Get().Logs().Pop(logHandle);
    return *line != nullptr ? 0 : 1;
  });
}

XLUE_API XL_LRT_ENV_HANDLE XLUE_CALL XLLRT_GetEnv(const wchar_t* name) {
  return Guarded<XL_LRT_ENV_HANDLE>(nullptr, [name]() -> XL_LRT_ENV_HANDLE {
    if (name != nullptr && name[0] != L'\0') return nullptr;  // only the default one
    return Engine::Get().Host().AcquireEnv();
  });
}

XLUE_API int XLUE_CALL XLLRT_ReleaseEnv(XL_LRT_ENV_HANDLE env) {
  return Guarded(kFailed, [env] { return Engine::Get().Host().ReleaseEnv(env); });
}

XLUE_API XL_LRT_RUNTIME_HANDLE XLUE_CALL XLLRT_GetRuntime(XL_LRT_ENV_HANDLE env,
                                                          const wchar_t* name) {
  return Guarded<XL_LRT_RUNTIME_HANDLE>(nullptr, [env, name]() -> XL_LRT_RUNTIME_HANDLE {
    if (name != nullptr && name[0] != L'\0') return nullptr;
    return Engine::Get().Host().AcquireRuntime(env);
  });
}

XLUE_API int XLUE_CALL XLLRT_ReleaseRunTime(XL_LRT_RUNTIME_HANDLE runtime) {
  return Guarded(kFailed, [runtime] { return Engine::Get().Host().ReleaseRuntime(runtime); });
}

XLUE_API lua_State* XLUE_CALL XLLRT_GetLuaState(XL_LRT_RUNTIME_HANDLE runtime) {
  return Guarded<lua_State*>(nullptr,
                             [runtime] { return Engine::Get().Host().StateOfRuntime(runtime); });
}

XLUE_API int XLUE_CALL XLLRT_RegisterGlobalObj(XL_LRT_ENV_HANDLE env, XLLRTObject object) {
  return Guarded(kFailed, [env, &object] {
    lua_State* L = Engine::Get().Host().StateOfEnv(env);
    if (L == nullptr) return static_cast<int>(xlue::kObjectBadEnv);
    return xlue::RegisterGlobalObject(L, object);
  });
}

XLUE_API int XLUE_CALL XLLRT_RemoveGlobalObj(XL_LRT_ENV_HANDLE env, const char* name) {
  return Guarded(kFailed, [env, name] {
    lua_State* L = Engine::Get().Host().StateOfEnv(env);
    if (L == nullptr) return static_cast<int>(xlue::kObjectBadEnv);
    return xlue::RemoveGlobalObject(L, name);
  });
}

XLUE_API int XLUE_CALL XLLRT_LuaCall(lua_State* L, int args, int results,
                                     const wchar_t* context) {
  return Guarded(kFailed, [=] {
    if (L == nullptr || args < 0 || results < LUA_MULTRET) return kFailed;
    if (lua_gettop(L) < args + 1) return kFailed;
    if (!lua_checkstack(L, (results > 0 ? results : 0) + 2)) return kFailed;
    return xlue::ProtectedCall(L, args, results, context);
  });
}
