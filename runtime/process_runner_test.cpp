#include "process_runner.h"

#include <gtest/gtest.h>

#include "log_file.h"
#include "path_util.h"
#include "test_support.h"

using namespace testing_support;

namespace {

std::string Helper(const char* name) { return "\"" + ProgramDir() + name + ".exe\""; }

}  // namespace

TEST(RunProcess, ResultCodesAndLogLines) {
  int32_t code = 99;
  std::string log = LogDuring([&] { code = RunProcess(Helper("exit_with") + " 0", "", kWaitForever, true); });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(log, "");

  log = LogDuring([&] { code = RunProcess(Helper("exit_with") + " 3", "", 10000, true); });
  EXPECT_EQ(code, 3);
  EXPECT_NE(log.find(":退出代码:3\n\r\n"), std::string::npos) << log;

  log = LogDuring([&] { code = RunProcess("", "", 0, true); });
  EXPECT_EQ(code, -1);
  EXPECT_NE(log.find(":启程进程失败!未指定执行命令行!\n\r\n"), std::string::npos) << log;

  const std::string missing = "\"" + ProgramDir() + "no_such_program.exe\"";
  log = LogDuring([&] { code = RunProcess(missing, "", 1000, true); });
  EXPECT_EQ(code, -1);
  EXPECT_NE(log.find(":启动失败! '" + missing + "'\n\r\n"), std::string::npos) << log;
}

TEST(RunProcess, TimeOutLeavesTheProgramRunning) {
  int32_t code = 0;
  const std::string log = LogDuring([&] { code = RunProcess(Helper("sleeper") + " 3000", "", 300, true); });
  EXPECT_EQ(code, 258);
  EXPECT_NE(log.find(":等待超时:300ms\n\r\n"), std::string::npos) << log;
  // Not waiting at all: started is success.
  EXPECT_EQ(RunProcess(Helper("sleeper") + " 200", "", 0, true), 0);
}

TEST(RunProcess, WorkingFolderIsThatOfTheNewProcess) {
  TempDir dir;
  EXPECT_EQ(RunProcess(Helper("log_writer") + " Log\\w.log hello", dir.Path(), kWaitForever, true), 1);
  EXPECT_TRUE(FileExists(dir.File("Log\\w.log")));
}

TEST(RunProcess, OverlongCommandLineIsRefusedWhole) {
  const std::string longest = Helper("exit_with") + " 7 " + std::string(2079 - Helper("exit_with").size() - 3, 'x');
  ASSERT_EQ(longest.size(), 2079u);
  EXPECT_EQ(RunProcess(longest, "", kWaitForever, true), 7);
  int32_t code = 0;
  const std::string log = LogDuring([&] { code = RunProcess(longest + "y", "", kWaitForever, true); });
  EXPECT_EQ(code, -1);
  EXPECT_NE(log.find("命令行过长"), std::string::npos) << log;
  EXPECT_EQ(RunProcess(std::string(100000, 'z'), "", 0, true), -1);
}

TEST(RunProcess, ReadyForInputCountsAsStarted) {
  // A window program is idle once its loop waits; it keeps running.
  const int32_t code = RunProcess(Helper("window_host") + " runner_idle_test 1500", "", 10000, false);
  EXPECT_EQ(code, 0);
}
