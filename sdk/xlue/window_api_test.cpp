// The script window API through the DLL, checked with Win32 (window texts,
// PBM_GETPOS) under Wine's null graphics driver.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "engine_fixture.h"

namespace {

using xlue_testing::EngineTest;
using xlue_testing::Errors;

constexpr int kTextId = 101;
constexpr int kProgressId = 102;
constexpr int kButtonId = 103;

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[512] = L"";
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

class WindowApiTest : public EngineTest {
 protected:
  // Creates the window `w` from Lua and gives its handle.
  HWND Create(const std::string& options) {
    if (Run("w = XLUE.Window.Create(" + options + ")") != 0) return nullptr;
    const int top = lua_gettop(L);
    HWND hwnd = nullptr;
    if (Run("return w:GetHandle()", 1) == 0 && lua_isnumber(L, -1)) {
      hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(lua_tonumber(L, -1)));
    }
    lua_settop(L, top);
    return hwnd;
  }
  static int Position(HWND hwnd) {
    return static_cast<int>(SendDlgItemMessageW(hwnd, kProgressId, PBM_GETPOS, 0, 0));
  }
  static int Range(HWND hwnd) {
    return static_cast<int>(SendDlgItemMessageW(hwnd, kProgressId, PBM_GETRANGE, FALSE, 0));
  }
};

TEST_F(WindowApiTest, AWindowHasItsTextsAndStaysHiddenUntilShown) {
  // Titles and texts are UTF-8 in scripts: 更新 and 正在下载.
  HWND hwnd = Create("{title='\xe6\x9b\xb4\xe6\x96\xb0', text='\xe6\xad\xa3\xe5\x9c\xa8\xe4\xb8\x8b\xe8\xbd\xbd',"
                     " button='Tray'}");
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetParent(hwnd), nullptr) << "a top-level window";
  wchar_t cls[64] = L"";
  GetClassNameW(hwnd, cls, 64);
  EXPECT_STREQ(cls, L"XLUE_ScriptWindow");
  EXPECT_EQ(TextOf(hwnd), L"更新");
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, kTextId)), L"正在下载");
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, kButtonId)), L"Tray");
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, kButtonId), GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(Position(hwnd), 0);
  EXPECT_EQ(Range(hwnd), 100);

  EXPECT_EQ(Eval("w:SetTitle('Lumora') and w:SetText('\xe7\x89\x88\xe6\x9c\xac 2')"), "true");
  EXPECT_EQ(TextOf(hwnd), L"Lumora");
  EXPECT_EQ(TextOf(GetDlgItem(hwnd, kTextId)), L"版本 2");
  EXPECT_EQ(Eval("w:GetText()"), u8"版本 2");
  EXPECT_EQ(Eval("w:GetTitle()"), "Lumora");
  EXPECT_EQ(Eval("w:SetButton(nil)"), "true");
  EXPECT_FALSE(GetWindowLongW(GetDlgItem(hwnd, kButtonId), GWL_STYLE) & WS_VISIBLE);

  const struct {
    const char* call;
    bool visible;
  } steps[] = {{"w:Show()", true}, {"w:Hide()", false}, {"w:BringToFront()", true},
               {"w:Hide()", false}, {"w:Hide()", false}, {"w:Show()", true}};
  for (const auto& step : steps) {
    EXPECT_EQ(Eval(step.call), "true") << step.call;
    EXPECT_EQ(IsWindowVisible(hwnd) != FALSE, step.visible) << step.call;
    EXPECT_EQ(Eval("w:IsVisible()"), step.visible ? "true" : "false") << step.call;
  }
  EXPECT_TRUE(Errors().empty());
}

TEST_F(WindowApiTest, ProgressStaysWithinItsRange) {
  HWND hwnd = Create("{title='p'}");
  ASSERT_NE(hwnd, nullptr);
  const struct {
    const char* call;
    int position;
    int range;
  } steps[] = {
      {"w:SetProgress(30)", 30, 100},    {"w:SetProgress(5, 10)", 5, 10},
      {"w:SetProgress(50)", 10, 10},     {"w:SetProgress(-3)", 0, 10},
      {"w:SetProgress(7.9)", 7, 10},     {"w:SetProgress(0, 0)", 0, 10},  // a range below 1 is kept
      {"w:SetProgress(3e9, 4e9)", 2147483647, 2147483647},
      {"w:SetProgress(250, 1000)", 250, 1000},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(Eval(step.call), "true") << step.call;
    EXPECT_EQ(Position(hwnd), step.position) << step.call;
    EXPECT_EQ(Range(hwnd), step.range) << step.call;
  }
  EXPECT_EQ(Eval("table.concat({w:GetProgress()}, '/')"), "250/1000");
  EXPECT_EQ(Run("w:SetProgress('many')"), LUA_ERRRUN);
  EXPECT_EQ(Run("w.SetProgress(5, 1)"), LUA_ERRRUN) << "a method needs its window";
  EXPECT_EQ(Errors().size(), 2u);
  EXPECT_EQ(Position(hwnd), 250);
}

TEST_F(WindowApiTest, WithoutOnCloseTheUserClosesIt) {
  HWND hwnd = Create("{}");
  ASSERT_NE(hwnd, nullptr);
  ASSERT_EQ(Run("w:OnClose(function() end) w:OnClose(nil)"), 0);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(Eval("w:IsOpen()"), "false");
  EXPECT_EQ(Eval("w:GetHandle()"), "nil");
  EXPECT_EQ(Eval("tostring(w):match('^XLUE.Window: %d+$') ~= nil"), "true");
}

TEST_F(WindowApiTest, TheEngineClosesItsWindowsAndNeedsGraphics) {
  HWND first = Create("{title='one'}");
  HWND second = Create("{title='two'}");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(XLUE_Uninit(nullptr), 0);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_FALSE(IsWindow(second));

  ASSERT_EQ(XL_UnInitGraphicLib(), 0);
  EXPECT_EQ(Eval("select(2, XLUE.Window.Create{title='none'})"), "graphics not initialised");
  // Bad options are script errors.
  XLGraphicParam param;
  ASSERT_EQ(XL_PrepareGraphicParam(&param), 0);
  ASSERT_EQ(XL_InitGraphicLib(&param), 0);
  EXPECT_EQ(Run("XLUE.Window.Create{title={}}"), LUA_ERRRUN);
  EXPECT_EQ(Run("XLUE.Window.Create('title')"), LUA_ERRRUN);
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_NE(Errors()[0].error.find(L"option 'title' must be a string"), std::wstring::npos);
  EXPECT_NE(Create("{width=10, height=10}"), nullptr) << "sizes are raised to the minimum";
}

}  // namespace
