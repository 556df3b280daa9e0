// The host of the UI engine: its start ("BOLT_Init"), the skin package
// ("BOLT_LoadXAR"), its end ("BOLT_Uninit" and the launcher's orderly end)
// and the report of every Lua error in the log.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "xlue.h"

// Error codes of "BOLT_LoadXAR".
constexpr int32_t kXarLoaded = 0;
constexpr int32_t kXarMissing = 2;
constexpr int32_t kXarLoadFailed = 1006;

class BoltHost {
 public:
  // The host, built on first use.
  static BoltHost& Get();
  // True while a host exists and its engine is initialised.
  static bool EngineInitialised();
  // Shuts the engine down when it is initialised and forgets the host
  // (withdrawing `Lumo.App` first when `withdrawApp`).
  static void Shutdown(bool withdrawApp);

  // The engine's start in order; true when it is up.
  bool InitEngine();
  bool Initialised() const { return initialised_; }

 private:
  bool initialised_ = false;
};

// The engine's search path of the launcher: "<program folder>\xar\".
std::string XarSearchPath(const std::string& programFolder);

// "BOLT_LoadXAR" without its continuation: the error code (4306 without name).
int32_t LoadXar(const std::string& name);

// The engine's error callback: one log line per error, never re-entered.
int XLUE_CALL LuaErrorHandler(void* reserved, const wchar_t* extra, const wchar_t* error,
                              const XLLRTDebugLog* log);
// The log text of an error: "<error>[ @ <extra>]".
std::wstring LuaErrorText(const wchar_t* error, const wchar_t* extra);

void BoltInitOperation(const std::string& op, Json::Value call);
void BoltLoadXarOperation(const std::string& op, Json::Value call);
void BoltUninitOperation(const std::string& op, Json::Value call);
