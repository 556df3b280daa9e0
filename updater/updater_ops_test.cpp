// The operations driven in-process through the engine, for what a run of the
// real program cannot reach from its command line: Quit with a "code",
// StartProcess, and the failures that carry no log line.
#include "updater_ops.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "json_util.h"
#include "operation_engine.h"
#include "test_support.h"
#include "updater_app.h"

namespace {

Json::Value g_probed;
int g_probes = 0;

void Probe(const std::string&, Json::Value call) {
  g_probed = call;
  ++g_probes;
}

class UpdaterOps : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterUpdaterOperations();
    RegisterOperation(kUpdaterModule, "Probe", Probe);
    UpdaterApp::Get().programDir = folder_.Path();
    g_probed = Json::Value();
    g_probes = 0;
    DropQuit();
  }
  void TearDown() override { DropQuit(); }

  static void DropQuit() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  // Posts `text` and runs the module until nothing waits.
  static void Run(const std::string& text) {
    ASSERT_TRUE(PostCall(kUpdaterModule, text)) << text;
    for (int i = 0; i < 20 && GetModule(kUpdaterModule).PendingCount() > 0; ++i)
      PumpModule(kUpdaterModule, 50);
  }

  // The exit code of a pending WM_QUIT, or nothing.
  static bool TakeQuit(int& code) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    code = static_cast<int>(msg.wParam);
    return true;
  }

  static std::string OwnLog() {
    char name[64];
    std::snprintf(name, sizeof name, "Log\\test_%lu.log", GetCurrentProcessId());
    std::string bytes;
    testing_support::ReadFileBytes(testing_support::ProgramDir() + name, bytes);
    return bytes;
  }

  testing_support::TempDir folder_;
};

TEST_F(UpdaterOps, QuitEndsTheLoopWithTheCodeOrTheStatus) {
  int code = 0;
  Run(R"({"op":"Quit","result":{"status":true},"code":5})");
  ASSERT_TRUE(TakeQuit(code));
  EXPECT_EQ(code, 5);
  Run(R"({"op":"Quit","result":{"status":false,"error":3}})");
  ASSERT_TRUE(TakeQuit(code));
  EXPECT_EQ(code, -1);
}

TEST_F(UpdaterOps, StartProcessWithoutNameLogsTheCallAndPostsNothing) {
  Run(R"({"op":"StartProcess","params":"-x 1","then":{"op":"Probe"}})");
  EXPECT_EQ(g_probes, 0);
  const std::string log = OwnLog();
  EXPECT_NE(log.find("启程进程失败!未指定文件名! 参数:{\n   \"op\" : \"StartProcess\",\n"
                     "   \"params\" : \"-x 1\","),
            std::string::npos)
      << log;
}

TEST_F(UpdaterOps, StartProcessHandsOnABareStartedFlag) {
  std::string bin = testing_support::ProgramDir();
  bin.pop_back();
  Json::Value call;
  call["op"] = "StartProcess";
  call["name"] = "exit_with.exe";
  call["params"] = "0";
  call["path"] = bin;
  call["then"]["op"] = "Probe";
  Run(rt::StyledText(call));
  ASSERT_EQ(g_probes, 1);
  EXPECT_EQ(g_probed["result"], Json::Value(true));
  EXPECT_NE(OwnLog().find("成功启动. '" + bin + "\\exit_with.exe 0'"), std::string::npos);

  call["name"] = "no_such_program.exe";
  Run(rt::StyledText(call));
  ASSERT_EQ(g_probes, 2);
  EXPECT_EQ(g_probed["result"], Json::Value(false));
  EXPECT_NE(OwnLog().find("启动失败! '" + bin + "\\no_such_program.exe 0'"), std::string::npos);
}

TEST_F(UpdaterOps, MissingArgumentsFailWithoutAnError) {
  Run(R"({"op":"CopyFile","file":"a.txt","then":{"op":"Probe"}})");
  ASSERT_EQ(g_probes, 1);
  EXPECT_EQ(g_probed["result"]["status"], false);
  EXPECT_FALSE(g_probed["result"].isMember("error"));
  Run(R"({"op":"Install","file":"no_such.pkg.exe","then":{"op":"Probe","keep":1}})");
  ASSERT_EQ(g_probes, 2);
  EXPECT_EQ(g_probed["result"]["status"], false);
  EXPECT_EQ(g_probed["result"]["error"], 2);
  EXPECT_EQ(g_probed["keep"], 1);
  Run(R"({"op":"OpenFile","file":7,"then":{"op":"Probe"}})");
  ASSERT_EQ(g_probes, 3);
  EXPECT_FALSE(g_probed["result"].isMember("error"));
  EXPECT_EQ(g_probed["result"]["status"], false);
}

TEST_F(UpdaterOps, PathsThatWouldNotFitAreRefused) {
  Json::Value call;
  call["op"] = "CopyFile";
  call["file"] = folder_.File("a.txt");
  call["path"] = std::string(1030, 'p');  // fits alone, not below the program folder
  call["then"]["op"] = "Probe";
  Run(rt::StyledText(call));
  ASSERT_EQ(g_probes, 1);
  EXPECT_EQ(g_probed["result"]["status"], false);
  EXPECT_EQ(g_probed["result"]["error"], 206);
  EXPECT_NE(OwnLog().find("路径过长(1030字节)"), std::string::npos);
}

}  // namespace
