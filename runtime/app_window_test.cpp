#include "app_window.h"

#include <gtest/gtest.h>

#include <atomic>

#include "operation_engine.h"
#include "path_util.h"
#include "test_support.h"

using namespace testing_support;

TEST(AppWindow, ClosingTheHiddenWindowEndsTheProgramWithOne) {
  TempDir dir;
  const std::string marker = dir.File("marker.txt");
  const std::string className = "QZ_ShellHost_" + std::to_string(GetCurrentProcessId());
  const std::string command =
      "\"" + ProgramDir() + "shell_host.exe\" " + className + " \"" + marker + "\"";
  int exitCode = -999;
  bool hidden = false, toolWindow = false, appWindow = true;
  {
    Background runner([&] { exitCode = RunAndWait(command, dir.Path(), 20000); });
    HWND window = nullptr;
    for (int i = 0; i < 1000 && !window; ++i) {
      window = FindWindowA(className.c_str(), nullptr);  // a real top-level window
      if (!window) Sleep(10);
    }
    ASSERT_NE(window, nullptr);
    // The window exists before the program makes it a hidden tool window:
    // look once it has had the time to.
    WaitUntil([&] { return (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0; },
              2000);
    hidden = !IsWindowVisible(window);
    const LONG_PTR ex = GetWindowLongPtrA(window, GWL_EXSTYLE);
    toolWindow = (ex & WS_EX_TOOLWINDOW) != 0;
    appWindow = (ex & WS_EX_APPWINDOW) != 0;
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
  EXPECT_EQ(exitCode, 1);
  EXPECT_TRUE(hidden);
  EXPECT_TRUE(toolWindow);
  EXPECT_FALSE(appWindow);
  std::string text;
  EXPECT_TRUE(ReadFileBytes(marker, text));
  EXPECT_EQ(text, "orderly end");
}

namespace {

std::atomic<bool> g_insideBox{false};
std::atomic<bool> g_ranInsideBox{false};
std::atomic<int> g_afterRuns{0};

void OpensBox(const std::string&, Json::Value) {
  PostOperation("Reentry", "After");
  g_insideBox = true;
  MessageBoxA(nullptr, "inside an operation", "appwnd-reentry", MB_OK);
  g_insideBox = false;
}

void After(const std::string&, Json::Value) {
  if (g_insideBox) g_ranInsideBox = true;
  ++g_afterRuns;
}

class CountingWindow : public APPWnd {
 public:
  CountingWindow() : APPWnd("Reentry") {}
  std::atomic<int> ticks{0};

 protected:
  void AfterPump() override { ++ticks; }
};

}  // namespace

TEST(AppWindow, ModalBoxInsideAnOperationDoesNotReenterTheEngine) {
  RegisterOperation("Reentry", "Box", OpensBox);
  RegisterOperation("Reentry", "After", After);
  CountingWindow window;
  ASSERT_TRUE(window.Create("QZ_Reentry_" + std::to_string(GetCurrentProcessId())));
  PostOperation("Reentry", "Box");
  int ticksInside = 0;
  {
    Background closer([&] {
      HWND box = WaitForWindow("#32770", "appwnd-reentry", 10000);
      if (!box) return;
      const int before = window.ticks;
      testing_support::WaitUntil([&] { return window.ticks - before >= 5; }, 300);
      ticksInside = window.ticks - before;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_TRUE(PumpMessagesUntil([] { return g_afterRuns.load() > 0; }, 20000));
  }
  window.Shutdown();
  EXPECT_GE(ticksInside, 5) << "the window's timer keeps firing inside the box";
  EXPECT_FALSE(g_ranInsideBox);
  EXPECT_EQ(g_afterRuns, 1);
  // The window's WM_DESTROY asked the loop to end with 1.
  MSG msg;
  bool quit = false;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    if (msg.message == WM_QUIT) quit = msg.wParam == 1;
  EXPECT_TRUE(quit);
}

TEST(CrashReporter, WritesADumpAndTheChildsEndIsStillReported) {
  TempDir dir;
  for (const char* file : {"crasher.exe", "CrashRpt.dll"})
    ASSERT_TRUE(CopyFileA((ProgramDir() + file).c_str(), dir.File(file).c_str(), FALSE)) << file;
  const int code = RunAndWait("\"" + dir.File("crasher.exe") + "\"", dir.Path(), 60000);
  EXPECT_EQ(static_cast<DWORD>(code), EXCEPTION_ACCESS_VIOLATION);
  int dumps = 0, reports = 0;
  std::string report;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(dir.File("CrashDumps\\*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    const std::string name = data.cFileName;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".dmp" && data.nFileSizeLow > 0) ++dumps;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".txt") {
      ++reports;
      ReadFileBytes(dir.File("CrashDumps\\" + name), report);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  EXPECT_EQ(dumps, 1);
  EXPECT_EQ(reports, 1);
  EXPECT_NE(report.find("subject: Crasher"), std::string::npos) << report;
  EXPECT_NE(report.find("exception code: 0xC0000005"), std::string::npos) << report;
}
