// XLUE, our UI engine library (XLUE.dll): a small engine that loads skin
// packages scripted in Lua 5.1 (the one shared lua51.dll) and lets them show
// simple windows. This is everything a host program calls; all of it must be
// called on the host's user-interface thread, which must run a message loop.
//
// Packages: a package named N is the folder N in one of the search paths; it
// holds the entry script "onload.lua", run when the package loads.
//
// Every export uses the __stdcall convention and is exported under its plain
// name. No exception leaves the library; Lua errors go to the error handler.
// What scripts see (print, require, XLUE.Window) is described in the README
// ("Our UI engine (XLUE.dll) and skin packages"). An int result of -1 means
// the call failed unexpectedly inside the library.
#pragma once

#include <windows.h>

#include <cstdint>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#ifdef XLUE_BUILDING_DLL
#define XLUE_API extern "C" __declspec(dllexport)
#else
#define XLUE_API extern "C" __declspec(dllimport)
#endif
#define XLUE_CALL __stdcall

typedef void* XL_LRT_ENV_HANDLE;      // a Lua environment (the default one: XLLRT_GetEnv(nullptr))
typedef void* XL_LRT_RUNTIME_HANDLE;  // a runtime of an environment, owning a lua_State

// The graphics parameters: prepared by XL_PrepareGraphicParam, then the host
// sets `mode` (its first 32-bit field) and passes it to XL_InitGraphicLib.
struct XLGraphicParam {
  int32_t mode;
  int32_t reserved[15];
};

// One method of a global object: name, function, 0. A table of them ends
// with an entry of three zeros.
struct XLLRTGlobalAPI {
  const char* name;
  lua_CFunction func;
  intptr_t flags;
};
static_assert(sizeof(XLLRTGlobalAPI) == 3 * sizeof(void*), "three pointer-sized fields");

// Gives the object a global object stands for; `userData` is the record's.
typedef void*(XLUE_CALL* XLLRT_GetObjectFn)(void* userData);

// The registration record of a global object (six pointer-sized fields).
// Scripts then see a global object of the name `objName` ("Lumo.App" is the
// field "App" of the global table "Lumo"): a userdata holding the object
// pointer that `getObject(userData)` gives, whose metatable is registered
// under `className` (so luaL_checkudata(L, 1, className) works in a method)
// and whose methods are those of `members`, called as obj:Method(...).
struct XLLRTObject {
  XLLRT_GetObjectFn getObject;
  void* userData;
  const char* objName;
  const char* className;
  const XLLRTGlobalAPI* members;
  intptr_t reserved;  // 0
};
static_assert(sizeof(XLLRTObject) == 6 * sizeof(void*), "six pointer-sized fields");

// What an error handler gets with an error: the handle of the error's debug
// log (script output and the traceback), read with XLLRT_DebugLogsPopNextLog.
struct XLLRTDebugLog {
  uint32_t logHandle;  // 0: no lines
  uint32_t reserved;
};

// Called for every Lua error: `extra` is the context text of the call that
// failed (null when there is none), `error` the error message.
typedef int(XLUE_CALL* XLLRT_ErrorCallback)(void* reserved, const wchar_t* extra,
                                            const wchar_t* error, const XLLRTDebugLog* log);

// --- engine ------------------------------------------------------------------
// Every Init/Uninit pair may be called again after it was undone; a second
// Init while initialised changes nothing and returns 0.
// The engine's file system (package files are read only between these): 0.
XLUE_API int XLUE_CALL XLFS_Init();
XLUE_API int XLUE_CALL XLFS_Uninit();
// Fills the record (mode 1; its second field holds the record's size). 1 for null.
XLUE_API int XLUE_CALL XL_PrepareGraphicParam(XLGraphicParam* param);
// Common controls, the window class and the font of script windows. Modes:
// 0 GDI, 1 GDI with ClearType text. 0 ready; 1 null or unprepared record,
// 2 unknown mode, 3 common controls failed, 4 no window class.
XLUE_API int XLUE_CALL XL_InitGraphicLib(const XLGraphicParam* param);
// Accepted and remembered; all text is drawn by GDI. 0.
XLUE_API int XLUE_CALL XL_SetFreeTypeEnabled(int enabled);
// Closes the script windows and undoes XL_InitGraphicLib. 0.
XLUE_API int XLUE_CALL XL_UnInitGraphicLib();
// Makes the default Lua environment and readies the loader: 0, 1 when no Lua
// state can be made.
XLUE_API int XLUE_CALL XLUE_InitLoader(void* reserved);
// 0 when the folder (UTF-16) was added to the package search paths (or was
// there already); 1 null or empty, 2 not an existing folder, 3 no full path.
XLUE_API int XLUE_CALL XLUE_AddXARSearchPath(const wchar_t* folder);
// 1 when a package of that name (system code page) is in a search path.
XLUE_API int XLUE_CALL XLUE_XARExist(const char* name);
// 0 when the package was loaded (its entry script ran without error, now or
// before); 1 file system or loader not initialised, 2 no such package,
// 3 onload.lua unreadable, 4 onload.lua failed (reported to the handler).
XLUE_API int XLUE_CALL XLUE_LoadXAR(const char* name);
// Closes the script windows and forgets search paths and loaded packages. 0.
XLUE_API int XLUE_CALL XLUE_Uninit(void* reserved);
// Closes the script windows and the default Lua state. 0.
XLUE_API int XLUE_CALL XLUE_UninitLuaHost(void* reserved);
// Frees every environment and runtime handle (they become invalid). 0.
XLUE_API int XLUE_CALL XLUE_UninitHandleMap(void* reserved);

// --- Lua runtime -------------------------------------------------------------
// Sets the error handler; null removes it. Returns 0.
XLUE_API int XLUE_CALL XLLRT_ErrorHandle(XLLRT_ErrorCallback handler);
// Gives the next line of debug log `logHandle` in `*line` (system code page,
// valid until the next call) and returns 0; non-zero when there is none.
// Each line ends with "\r\n". A log can be read while the handler that got
// it runs; it is gone afterwards.
XLUE_API int XLUE_CALL XLLRT_DebugLogsPopNextLog(const char** line, uint32_t logHandle);
// Handles are reference-counted: every Get adds a reference, every Release
// takes one away and returns the references still held (a runtime holds one
// on its environment), -1 for a handle that is not live. Only the default
// environment and runtime exist (name null or empty; other names give null).
// After XLUE_UninitLuaHost a handle still held gives a null Lua state.
XLUE_API XL_LRT_ENV_HANDLE XLUE_CALL XLLRT_GetEnv(const wchar_t* name);
XLUE_API int XLUE_CALL XLLRT_ReleaseEnv(XL_LRT_ENV_HANDLE env);
XLUE_API XL_LRT_RUNTIME_HANDLE XLUE_CALL XLLRT_GetRuntime(XL_LRT_ENV_HANDLE env,
                                                          const wchar_t* name);
XLUE_API int XLUE_CALL XLLRT_ReleaseRunTime(XL_LRT_RUNTIME_HANDLE runtime);
XLUE_API lua_State* XLUE_CALL XLLRT_GetLuaState(XL_LRT_RUNTIME_HANDLE runtime);
// 0 when the object was published (a name in use is replaced); 1 not a live
// environment, 2 no name or class or an empty part in the name, 3 a part of
// the name holds a value that is no table, 4 the Lua state failed. The
// record's getObject is called once, now.
XLUE_API int XLUE_CALL XLLRT_RegisterGlobalObj(XL_LRT_ENV_HANDLE env, XLLRTObject object);
// 0 when the named field was set to nil (the tables on the way stay); 1 not a
// live environment, 2 bad name, 5 nothing of that name.
XLUE_API int XLUE_CALL XLLRT_RemoveGlobalObj(XL_LRT_ENV_HANDLE env, const char* name);
// Calls, protected, the function below the `args` arguments on the stack and
// leaves `results` values in their place; on an error the handler is called
// with `context` as its extra text and `results` nils are left instead.
// 0 on success, Lua's error status (2 run time, 4 memory) on an error, -1
// when the call cannot be made (no state, too few values on the stack);
// then the stack is left alone.
XLUE_API int XLUE_CALL XLLRT_LuaCall(lua_State* L, int args, int results,
                                     const wchar_t* context);
