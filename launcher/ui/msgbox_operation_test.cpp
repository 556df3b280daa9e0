#include "msgbox_operation.h"

#include <gtest/gtest.h>

#include "json_util.h"
#include "launcher_module.h"
#include "operation_engine.h"
#include "test_support.h"

using namespace testing_support;

namespace {
std::vector<Json::Value> g_next;
void Next(const std::string&, Json::Value call) { g_next.push_back(call); }

void PostMsgBox(const std::string& json) {
  RegisterOperation(kLauncherModule, "MsgBox", MsgBoxOperation);
  RegisterOperation(kLauncherModule, "Next", Next);
  ASSERT_TRUE(PostCall(kLauncherModule, json));
}
}  // namespace

TEST(MsgBoxOperation, EmptyTextPostsThenAtOnceUnchanged) {
  g_next.clear();
  PostMsgBox(R"({"op":"MsgBox","text":"","then":{"op":"Next","k":[1,"二"]}})");
  PumpModule(kLauncherModule, 1000);
  PumpModule(kLauncherModule, 1000);
  ASSERT_EQ(g_next.size(), 1u);
  EXPECT_FALSE(g_next[0].isMember("result")) << "MsgBox adds no result";
  EXPECT_EQ(g_next[0]["k"][1].asString(), "二");
}

TEST(MsgBoxOperation, ShowsTextWithDefaultCaptionThenContinues) {
  g_next.clear();
  PostMsgBox(R"({"op":"MsgBox","text":"服务器消息","then":{"op":"Next"}})");
  std::string shown;
  size_t nextWhileOpen = 99;
  {
    Background closer([&] {
      HWND box = WaitForWindow("#32770", "消息", 10000);
      if (!box) return;
      shown = DialogText(box);
      nextWhileOpen = g_next.size();
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    PumpModule(kLauncherModule, 1000);
  }
  EXPECT_EQ(shown, "服务器消息");
  EXPECT_EQ(nextWhileOpen, 0u);
  PumpModule(kLauncherModule, 1000);
  EXPECT_EQ(g_next.size(), 1u);
}
