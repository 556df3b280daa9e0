#include "engine_fixture.h"

#include <windows.h>

#include "test_support.h"
#include "text_convert.h"

namespace xlue_testing {

std::vector<ReportedError>& Errors() {
  static std::vector<ReportedError> errors;
  return errors;
}

int XLUE_CALL RecordError(void*, const wchar_t* extra, const wchar_t* error,
                          const XLLRTDebugLog* log) {
  ReportedError reported;
  reported.hasExtra = extra != nullptr;
  if (extra != nullptr) reported.extra = extra;
  if (error != nullptr) reported.error = error;
  if (log != nullptr && log->logHandle != 0) {
    const char* line = nullptr;
    while (XLLRT_DebugLogsPopNextLog(&line, log->logHandle) == 0 && line != nullptr) {
      reported.lines.push_back(line);
    }
  }
  Errors().push_back(reported);
  return 0;
}

void StartEngine() {
  ASSERT_EQ(XLFS_Init(), 0);
  XLGraphicParam param;
  ASSERT_EQ(XL_PrepareGraphicParam(&param), 0);
  param.mode = 1;
  ASSERT_EQ(XL_InitGraphicLib(&param), 0);
  ASSERT_EQ(XL_SetFreeTypeEnabled(1), 0);
  ASSERT_EQ(XLUE_InitLoader(nullptr), 0);
  ASSERT_EQ(XLLRT_ErrorHandle(&RecordError), 0);
}

void StopEngine() {
  XLUE_Uninit(nullptr);
  XLUE_UninitLuaHost(nullptr);
  XL_UnInitGraphicLib();
  XLUE_UninitHandleMap(nullptr);
  XLFS_Uninit();
  XLLRT_ErrorHandle(nullptr);
}

std::wstring Wide(const std::string& acp) { return text_convert::ToWide(CP_ACP, acp); }

bool WritePackage(const std::string& root, const std::string& name,
                  const std::vector<std::pair<std::string, std::string>>& files) {
  const std::string folder = root + "\\" + name;
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  for (const auto& file : files) {
    // Subfolders of the relative name (ASCII names only in these tests).
    const std::string& relative = file.first;
    for (size_t at = relative.find('\\'); at != std::string::npos; at = relative.find('\\', at + 1)) {
      CreateDirectoryA((folder + "\\" + relative.substr(0, at)).c_str(), nullptr);
    }
    if (!testing_support::WriteFileBytes(folder + "\\" + relative, file.second)) return false;
  }
  return true;
}

void EngineTest::SetUp() {
  Errors().clear();
  StartEngine();
  env_ = XLLRT_GetEnv(nullptr);
  ASSERT_NE(env_, nullptr);
  runtime_ = XLLRT_GetRuntime(env_, nullptr);
  ASSERT_NE(runtime_, nullptr);
  L = XLLRT_GetLuaState(runtime_);
  ASSERT_NE(L, nullptr);
}

void EngineTest::TearDown() {
  if (runtime_ != nullptr) XLLRT_ReleaseRunTime(runtime_);
  if (env_ != nullptr) XLLRT_ReleaseEnv(env_);
  StopEngine();
}

int EngineTest::Run(const std::string& code, int results, const wchar_t* context) {
  if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != 0) {
    ADD_FAILURE() << "does not compile: " << lua_tostring(L, -1);
    lua_pop(L, 1);
    return -100;
  }
  return XLLRT_LuaCall(L, 0, results, context);
}

std::string EngineTest::Eval(const std::string& expression) {
  const int top = lua_gettop(L);
  std::string text = "<error>";
  if (Run("return tostring(" + expression + ")", 1) == 0 && lua_isstring(L, -1)) {
    text = lua_tostring(L, -1);
  }
  lua_settop(L, top);
  return text;
}

}  // namespace xlue_testing
