#include "message_box_ex.h"

#include <gtest/gtest.h>

#include <atomic>

#include "message_layout.h"
#include "path_util.h"
#include "resource.h"
#include "test_support.h"

using namespace testing_support;

namespace {

struct Observed {
  bool found = false;
  bool activeCaption = false;
  bool wraps = false;  // a line of the message would wrap in the text control
  RECT text{}, button{}, window{};
  long long expectedWidth = 0, expectedHeight = 0, lineHeight = 0;
  RECT work{};
  char title[64] = {};
};

// Whether the dialog's thread drew a caption active (WM_NCACTIVATE 1) since
// the dialog was asked for. Only that thread can tell how the caption is
// drawn. Once drawn active it counts: a window of another test program
// running at the same time may take the foreground afterwards.
std::atomic<bool> g_drawnActive{false};

LRESULT CALLBACK RecordNcActivate(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == WM_NCACTIVATE && sent->wParam) g_drawnActive = true;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

RECT ClientRectOf(HWND dialog, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Shows `message` and, from a second thread, reads the laid-out dialog and
// measures the message the way the layout rules say, then closes it.
Observed ShowAndObserve(const std::string& message, const std::string& caption, int& endCode) {
  Observed seen;
  const char* title = caption.empty() ? "错误" : caption.c_str();
  {
    Background observer([&] {
      HWND dialog = WaitForWindow("#32770", title, 10000);
      if (!dialog) return;
      Sleep(50);
      seen.found = true;
      seen.activeCaption = g_drawnActive;
      GetWindowTextA(dialog, seen.title, sizeof seen.title);
      HWND text = GetDlgItem(dialog, IDC_MESSAGETEXT);
      seen.text = ClientRectOf(dialog, text);
      seen.button = ClientRectOf(dialog, GetDlgItem(dialog, IDOK));
      GetWindowRect(dialog, &seen.window);
      // Measured in the font the control draws its text with.
      HDC dc = GetDC(text);
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0)));
      SIZE blank{};
      GetTextExtentPoint32A(dc, " ", 1, &blank);
      for (const std::string& line : SplitMessageLines(message)) {
        SIZE s{};
        GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &s);
        // As the control draws it (left-aligned static text breaks words).
        RECT drawn{0, 0, seen.text.right - seen.text.left, 0};
        DrawTextA(dc, line.c_str(), static_cast<int>(line.size()), &drawn,
                  DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        if (!line.empty() && drawn.bottom > s.cy) seen.wraps = true;
        seen.expectedWidth = std::max<long long>(seen.expectedWidth, s.cx);
        seen.expectedHeight += line.empty() ? blank.cy : s.cy;
      }
      seen.lineHeight = blank.cy;
      ReleaseDC(text, dc);
      MONITORINFO mi{};
      mi.cbSize = sizeof mi;
      GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &mi);
      seen.work = mi.rcWork;
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    g_drawnActive = false;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordNcActivate, nullptr, GetCurrentThreadId());
    CMessageBoxEx box;
    endCode = box.Show(message, caption);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
  }
  return seen;
}

void ExpectLayout(const Observed& seen) {
  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.activeCaption) << "the dialog comes up in the foreground";
  EXPECT_FALSE(seen.wraps) << "every line fits the text control";
  const long long w = seen.expectedWidth, h = seen.expectedHeight;
  EXPECT_EQ(seen.text.left, 15);
  EXPECT_EQ(seen.text.top, 25);
  EXPECT_EQ(seen.text.right - seen.text.left, w);
  EXPECT_EQ(seen.text.bottom - seen.text.top, h);
  EXPECT_EQ(seen.button.left, (w - 60) / 2);
  EXPECT_EQ(seen.button.top, h + 35);
  EXPECT_EQ(seen.button.right - seen.button.left, 90);
  EXPECT_EQ(seen.button.bottom - seen.button.top, 30);
  EXPECT_EQ(seen.window.right - seen.window.left, w + 30);
  EXPECT_EQ(seen.window.bottom - seen.window.top, h + 110);
  // Centred in the work area (to within rounding).
  const long dx = (seen.window.left - seen.work.left) - (seen.work.right - seen.window.right);
  const long dy = (seen.window.top - seen.work.top) - (seen.work.bottom - seen.window.bottom);
  EXPECT_LE(std::labs(dx), 1);
  EXPECT_LE(std::labs(dy), 1);
}

}  // namespace

TEST(MessageDialog, LaysOutToTheMessage) {
  int code = 0;
  Observed one = ShowAndObserve("配置文件错误!", "", code);
  ExpectLayout(one);
  EXPECT_EQ(code, 2) << "Cancel ends the dialog with 2";
  EXPECT_STREQ(one.title, "错误") << "an empty caption keeps the template's";
  EXPECT_GT(one.expectedWidth, 0);

  Observed three = ShowAndObserve("a\n\rb", "标题", code);
  ExpectLayout(three);
  EXPECT_STREQ(three.title, "标题");
  EXPECT_GT(one.lineHeight, 0);
  EXPECT_EQ(three.expectedHeight, 3 * three.lineHeight) << "three lines, one of them empty";

  // A fatal start-up error as the launcher words it: words that could wrap.
  Observed fatal = ShowAndObserve(
      "CheckConfig 无效的数据!\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)", "",
      code);
  ExpectLayout(fatal);
  EXPECT_EQ(fatal.expectedHeight, 5 * fatal.lineHeight);

  Observed empty = ShowAndObserve("", "", code);
  ExpectLayout(empty);
  EXPECT_EQ(empty.window.right - empty.window.left, 30);
  EXPECT_EQ(empty.window.bottom - empty.window.top, empty.lineHeight + 110);
}

TEST(MessageDialog, LongMessagesLayOutWithoutOverflow) {
  std::string message;
  for (int i = 0; i < 300; ++i) message += "第" + std::to_string(i) + "行\n\r";
  message += std::string(5000, 'W');
  int code = 0;
  Observed seen = ShowAndObserve(message, "long", code);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(code, 2);
  EXPECT_GT(seen.window.bottom - seen.window.top, 110);
  EXPECT_GT(seen.window.right - seen.window.left, 30);
}

TEST(MessageDialog, ServiceButtonOpensThePageAndKeepsTheDialog) {
  EXPECT_EQ(CMessageBoxEx::ServiceCommandLine("explorer", "https://x/y?a=1"),
            "explorer \"https://x/y?a=1\"");
  TempDir dir;
  const std::string record = dir.File("cmd.txt");
  bool stillOpen = false;
  int code = 0;
  {
    Background clicker([&] {
      HWND dialog = WaitForWindow("#32770", "service", 10000);
      if (!dialog) return;
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      for (int i = 0; i < 500 && !FileExists(record); ++i) Sleep(10);
      Sleep(100);
      stillOpen = IsWindow(dialog) != FALSE;
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    CMessageBoxEx box;
    box.serviceProgram = "\"" + ProgramDir() + "exit_with.exe\" 0 \"" + record + "\"";
    box.serviceAddress = "https://kf.example/online";
    code = box.Show("msg", "service");
  }
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(stillOpen);
  std::string line;
  ASSERT_TRUE(ReadFileBytes(record, line));
  EXPECT_NE(line.find(" \"https://kf.example/online\""), std::string::npos) << line;
}
