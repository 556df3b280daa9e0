#include "start_process_operation.h"

#include <gtest/gtest.h>

#include <set>

#include "json_util.h"
#include "launcher_module.h"
#include "operation_engine.h"
#include "path_util.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// A file system with a fixed set of files and folders.
PathProbe FakeDisk(std::set<std::string> files, std::set<std::string> folders) {
  return PathProbe{[files](const std::string& p) { return files.count(p) > 0; },
                   [folders](const std::string& p) { return folders.count(p) > 0; }};
}

StartProcessArgs Args(const std::string& json) {
  Json::Value call;
  EXPECT_TRUE(rt::ParseJson(json, call));
  return StartProcessArgs::FromCall(call);
}

}  // namespace

TEST(StartProcessArgs, MembersCountOnlyWithTheirTypes) {
  StartProcessArgs a = Args(R"({"name":"x","wait":-1,"type":false,"params":"-p"})");
  EXPECT_EQ(a.waitMs, 0xFFFFFFFFu);
  EXPECT_FALSE(a.waitForExit);
  a = Args(R"({"name":"x","wait":4294967295,"type":0,"path":5})");
  EXPECT_EQ(a.waitMs, 0u) << "a number beyond the signed range means no wait";
  EXPECT_TRUE(a.waitForExit);
  EXPECT_EQ(a.path, "");
  a = Args(R"({"name":"x","wait":500.0})");
  EXPECT_EQ(a.waitMs, 0u);
}

TEST(PlanStartProcess, ResolvesRelativeNamesInOrder) {
  const PathProbe disk = FakeDisk({"C:\\prog\\Orlune.exe", "D:\\p\\a.exe", "E:\\d\\b.exe"},
                                  {"E:\\d"});
  StartProcessArgs args;
  args.name = "Orlune.exe";
  EXPECT_EQ(PlanStartProcess(args, "C:\\prog", disk).commandLine, "\"C:\\prog\\Orlune.exe\"");
  args.params = "MD123 x";
  EXPECT_EQ(PlanStartProcess(args, "C:\\prog", disk).commandLine,
            "\"C:\\prog\\Orlune.exe\" MD123 x");

  args = StartProcessArgs();
  args.name = "sub\\..\\a.exe";
  args.path = "D:\\p";
  args.dir = "E:\\d";
  EXPECT_EQ(PlanStartProcess(args, "C:\\prog", disk).commandLine, "\"D:\\p\\a.exe\"") << "path first";
  args.name = "b.exe";
  args.path.clear();
  EXPECT_EQ(PlanStartProcess(args, "C:\\prog", disk).commandLine, "\"E:\\d\\b.exe\"") << "then an existing dir";
  args.dir = "F:\\missing";
  EXPECT_EQ(PlanStartProcess(args, "C:\\prog", disk).commandLine, "b.exe") << "else the program folder";
}

TEST(PlanStartProcess, NonFilesRunUnchangedAndLimitsHold) {
  const PathProbe disk = FakeDisk({}, {});
  StartProcessArgs args;
  EXPECT_EQ(PlanStartProcess(args, "C:\\prog", disk).error, kMissingArguments);
  args.name = "cmd /c echo hi";
  args.params = "ignored";
  StartProcessPlan plan = PlanStartProcess(args, "C:\\prog", disk);
  EXPECT_EQ(plan.error, 0);
  EXPECT_EQ(plan.commandLine, "cmd /c echo hi");

  args.name = std::string(1039, 'n');
  EXPECT_EQ(PlanStartProcess(args, "", disk).error, 0);
  args.name += 'n';
  plan = PlanStartProcess(args, "", disk);
  EXPECT_EQ(plan.error, -1);
  EXPECT_FALSE(plan.refusal.empty());
  EXPECT_TRUE(plan.commandLine.empty());
  // The log line shows the start of the name, cut between characters: the
  // 200th byte would be the first half of a 淺.
  std::string chinese = "a";
  for (int i = 0; i < 600; ++i) chinese += "淺";
  args.name = chinese;
  plan = PlanStartProcess(args, "", disk);
  EXPECT_EQ(plan.error, -1);
  EXPECT_EQ(plan.refusal, "执行程序失败:路径过长 '" + chinese.substr(0, 199) + "...'");

  // A file whose quoted path and parameters outgrow the buffer is refused too.
  const std::string folder = "C:\\" + std::string(900, 'f');
  const PathProbe big = FakeDisk({folder + "\\x.exe"}, {});
  args = StartProcessArgs();
  args.name = "x.exe";
  args.params = std::string(200, 'p');
  EXPECT_EQ(PlanStartProcess(args, folder, big).error, -1);
}

namespace {
std::vector<Json::Value> g_results;
void Collect(const std::string&, Json::Value call) { g_results.push_back(call); }

// Posts one StartProcess call and returns the "then" call it produced.
Json::Value RunStartProcess(Json::Value call) {
  RegisterOperation(kLauncherModule, "StartProcess", StartProcessOperation);
  RegisterOperation(kLauncherModule, "Done", Collect);
  g_results.clear();
  call["op"] = "StartProcess";
  call["then"]["op"] = "Done";
  call["then"]["carry"] = 7;
  EXPECT_TRUE(PostCall(kLauncherModule, rt::StyledText(call)));
  for (int i = 0; i < 3 && g_results.empty(); ++i) PumpModule(kLauncherModule, 60000);
  return g_results.empty() ? Json::Value() : g_results.front();
}
}  // namespace

TEST(StartProcessOperation, ThenReceivesTheOutcome) {
  Json::Value call;
  Json::Value done = RunStartProcess(call);
  EXPECT_EQ(rt::IntMember(done["result"], "error"), 4306);
  EXPECT_FALSE(rt::BoolMember(done["result"], "status", true));
  EXPECT_EQ(rt::IntMember(done, "carry"), 7) << "the successor's own members pass through";

  call["name"] = "exit_with.exe";  // in the program folder
  call["params"] = "3";
  call["wait"] = 10000;
  done = RunStartProcess(call);
  EXPECT_EQ(rt::IntMember(done["result"], "error"), 3);

  call["params"] = "0";
  call["wait"] = Json::UInt(4294967295u);  // ignored: no wait, started is success
  done = RunStartProcess(call);
  EXPECT_EQ(rt::IntMember(done["result"], "error", -5), 0);
  EXPECT_TRUE(rt::BoolMember(done["result"], "status"));
}

TEST(StartProcessOperation, WorkingFolderAndLogLines) {
  TempDir dir;
  Json::Value call;
  call["name"] = "log_writer.exe";
  call["path"] = ProgramDir();
  call["params"] = "Log\\w.log hello";
  call["dir"] = dir.Path();
  call["wait"] = -1;
  Json::Value done;
  const std::string log = LogDuring([&] { done = RunStartProcess(call); });
  EXPECT_EQ(rt::IntMember(done["result"], "error"), 1) << "log_writer exits with its line count";
  EXPECT_TRUE(FileExists(dir.File("Log\\w.log")));
  const std::string expected = "执行程序失败或错误[ERR:1] 工作目录:'" + dir.Path() + "' 命令:'\"" +
                               ProgramDir() + "log_writer.exe\" Log\\w.log hello' \n\r\n";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
}
