#include "launcher_start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"

namespace {

std::vector<std::string> g_requested;

void RecordRequest(const std::string&, Json::Value call) {
  g_requested.push_back(rt::StringMember(call, "url"));
}

size_t Position(const std::string& part) {
  for (size_t i = 0; i < g_requested.size(); ++i)
    if (g_requested[i].find(part) != std::string::npos) return i;
  return std::string::npos;
}

}  // namespace

// Every operation of the start-up chain dispatches, and the first two ask for
// the device's registration, the statistics and the configuration, in this
// order.
TEST(LauncherStart, OperationsAreRegisteredAndTheFirstTwoAskInOrder) {
  LauncherApp::Get();
  RegisterLauncherOperations();
  OperationModule& module = GetModule(kLauncherModule);
  for (const char* name :
       {"Quit", "BOLT_Init", "BOLT_Uninit", "BOLT_LoadXAR", "URL_LoadData", "URL_Download",
        "To_Lua", "StartProcess", "StartProcedure", "Statistics", "CheckConfig", "UpdateStarter",
        "UpdatePlaza", "UpdatePlatform", "ConfigLoaded", "CheckPlaza", "CheckPlatform",
        "StartPlazz", "CheckPlazzProcess", "ShowUpdateLoad", "MsgBox", "ChangeTrayIcon"}) {
    EXPECT_EQ(module.HandlerCount(name), 1u) << name;
  }

  // The requests are recorded where the download service would get them (the
  // real operation finds no window here and drops them with a log line).
  ASSERT_TRUE(RegisterOperation(kLauncherModule, "URL_LoadData", RecordRequest));
  PostFirstOperations();
  for (int tick = 0; tick < 10 && module.PendingCount() > 0; ++tick) PumpModule(kLauncherModule, 1000);
  UnregisterAll(kLauncherModule);
  EXPECT_EQ(module.HandlerCount("StartProcedure"), 0u);

  ASSERT_NE(Position("/plugins/stat/run?"), std::string::npos);
  ASSERT_NE(Position("/starterUpdate.do?"), std::string::npos);
  EXPECT_LT(Position("/plugins/stat/run?"), Position("/starterUpdate.do?"));
  // The first identity of a process registers it, before its statistics.
  EXPECT_LT(Position("/plugins/did/reg?"), Position("/plugins/stat/run?"));
  EXPECT_EQ(g_requested.size(), 3u);
}
