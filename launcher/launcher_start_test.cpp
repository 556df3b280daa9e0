#include "launcher_start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(LauncherStart, OperationsAreRegisteredInTheirOrder) {
  const std::vector<std::string> expected = {
      "Quit",          "BOLT_Init",      "BOLT_Uninit",   "BOLT_LoadXAR",   "URL_LoadData",
      "URL_Download",  "To_Lua",         "StartProcess",  "StartProcedure", "Statistics",
      "CheckConfig",   "UpdateStarter",  "UpdatePlaza",   "UpdatePlatform", "ConfigLoaded",
      "CheckPlaza",    "CheckPlatform",  "StartPlazz",    "CheckPlazzProcess",
      "ShowUpdateLoad", "MsgBox",        "ChangeTrayIcon"};
  size_t count = 0;
  const LauncherOperation* operations = LauncherOperations(count);
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    names.push_back(operations[i].name);
    EXPECT_NE(operations[i].handler, nullptr) << operations[i].name;
  }
  EXPECT_EQ(names, expected);
}
