// Test support for programs that drive XLUE.dll: the engine started and shut
// down in the host's order, an error handler that records what it gets, Lua
// snippets run through XLLRT_LuaCall, and packages written to folders.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "xlue.h"

namespace xlue_testing {

// One call of the error handler.
struct ReportedError {
  bool hasExtra = false;
  std::wstring extra;
  std::wstring error;
  std::vector<std::string> lines;  // the debug log, popped while the handler ran
};

// Every error the recording handler got, oldest first.
std::vector<ReportedError>& Errors();
int XLUE_CALL RecordError(void* reserved, const wchar_t* extra, const wchar_t* error,
                          const XLLRTDebugLog* log);

// The host's start and shutdown sequence (the recording handler is set).
void StartEngine();
void StopEngine();

// System code page ↔ UTF-16 for the test's own texts.
std::wstring Wide(const std::string& acp);

// Writes `files` (relative name → content; '\\' makes subfolders) into the
// folder `root`\`name`.
bool WritePackage(const std::string& root, const std::string& name,
                  const std::vector<std::pair<std::string, std::string>>& files);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs `code` as a chunk (named "=test") through XLLRT_LuaCall, leaving
  // `results` values; returns what XLLRT_LuaCall returned.
  int Run(const std::string& code, int results = 0, const wchar_t* context = nullptr);
  // Runs "return <expression>" and gives the value as text (tostring).
  std::string Eval(const std::string& expression);

  XL_LRT_ENV_HANDLE env_ = nullptr;
  XL_LRT_RUNTIME_HANDLE runtime_ = nullptr;
  lua_State* L = nullptr;
};

}  // namespace xlue_testing
