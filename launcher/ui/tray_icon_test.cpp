// The tray icon driven the way the shell drives it: callback messages with the
// mouse message in the last parameter, and menu choices through the same path.
#include "tray_icon.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ui_test_support.h"

namespace {

class Tray : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_test::Probe({"To_Lua", "BOLT_Uninit", "Quit"});
    ChangeTrayIconOperation("ChangeTrayIcon", Json::Value());
    tray = TrayIconWnd::Get();
    ASSERT_NE(tray, nullptr);
    ASSERT_TRUE(tray->IconShown());
    const std::vector<Json::Value> caught = ui_test::Caught();
    ASSERT_EQ(caught.size(), 1u);
    EXPECT_EQ(caught[0]["name"].asString(), "HideWindow");
    EXPECT_FALSE(caught[0].isMember("data"));
  }
  void TearDown() override { TrayIconWnd::DestroyInstance(); }

  void Click(UINT mouseMessage) {
    SendMessageA(tray->Handle(), kTrayCallbackMessage, kTrayIconId, mouseMessage);
  }
  // The next right click chooses `command` from the menu.
  void Choose(UINT command) {
    tray->chooseFromMenu = [command] { return command; };
  }

  TrayIconWnd* tray = nullptr;
};

}  // namespace

TEST_F(Tray, TheIconRecord) {
  const NOTIFYICONDATAA& icon = tray->IconRecord();
  // The record of the shell's version 3 layout: 504 bytes in the 32-bit build.
  EXPECT_EQ(icon.cbSize, sizeof(void*) == 4 ? 504u : 520u);
  EXPECT_EQ(icon.hWnd, tray->Handle());
  EXPECT_EQ(icon.uID, 5000u);
  EXPECT_EQ(icon.uFlags, 7u);
  EXPECT_EQ(icon.uCallbackMessage, 1124u);
  EXPECT_STREQ(icon.szTip, "点击显示更新界面,右键退出应用程序.");
  EXPECT_FALSE(IsWindowVisible(tray->Handle()));
  EXPECT_TRUE(GetWindowLongPtrA(tray->Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(GetWindowLongPtrA(tray->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

TEST_F(Tray, TheMenuOffersShowAndExit) {
  const HMENU menu = tray->Menu();
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 2);
  const struct {
    UINT id;
    const char* text;
  } items[] = {{3150, "显示"}, {3000, "退出"}};
  for (int i = 0; i < 2; ++i) {
    char text[32] = {};
    EXPECT_EQ(GetMenuItemID(menu, i), items[i].id);
    GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, items[i].text);
  }
}

TEST_F(Tray, ClicksAndMenuChoices) {
  struct Case {
    UINT mouse;
    UINT menuChoice;
    std::vector<std::string> posted;  // operations, with the To_Lua event name
    bool iconAfter;
  } cases[] = {
      {WM_LBUTTONUP, 0, {"To_Lua:TopWindow"}, false},
      {WM_RBUTTONDOWN, 0, {}, true},  // clicked outside the menu
      {WM_RBUTTONDOWN, kTrayShowCommand, {"To_Lua:TopWindow"}, false},
      {WM_RBUTTONDOWN, kTrayExitCommand, {"BOLT_Uninit", "Quit"}, false},
      {WM_RBUTTONUP, kTrayExitCommand, {}, true},
      {WM_LBUTTONDOWN, 0, {}, true},
      {WM_MOUSEMOVE, 0, {}, true},
      {WM_LBUTTONDBLCLK, 0, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mouse);
    if (!tray->IconShown()) {
      ChangeTrayIconOperation("ChangeTrayIcon", Json::Value());
      ui_test::Caught();
    }
    Choose(c.menuChoice);
    Click(c.mouse);
    // The icon is gone before the posted calls run.
    EXPECT_EQ(tray->IconShown(), c.iconAfter);
    std::vector<std::string> posted;
    for (const Json::Value& call : ui_test::Caught()) {
      std::string op = call["op"].asString();
      if (op == "To_Lua") {
        op += ":" + call["name"].asString();
        EXPECT_TRUE(call["data"]["data"].asBool());
        EXPECT_EQ(call.size(), 3u);
      }
      posted.push_back(op);
    }
    EXPECT_EQ(posted, c.posted);
  }
}

TEST_F(Tray, ShownAgainWithTheSameRecord) {
  Click(WM_LBUTTONUP);
  ASSERT_FALSE(tray->IconShown());
  ui_test::Caught();
  ChangeTrayIconOperation("ChangeTrayIcon", Json::Value());
  EXPECT_EQ(TrayIconWnd::Get(), tray) << "one tray window, reused";
  EXPECT_TRUE(tray->IconShown());
  EXPECT_STREQ(tray->IconRecord().szTip, "点击显示更新界面,右键退出应用程序.");
  const std::vector<Json::Value> caught = ui_test::Caught();
  ASSERT_EQ(caught.size(), 1u);
  EXPECT_EQ(caught[0]["name"].asString(), "HideWindow");
}
