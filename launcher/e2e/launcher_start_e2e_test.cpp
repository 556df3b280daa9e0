// The launcher's start: its command line, the single-instance rule by union
// code, and a start without its download service.
#include <gtest/gtest.h>

#include <algorithm>

#include "launcher_folder.h"
#include "json_util.h"
#include "param_envelope.h"
#include "test_support.h"

namespace e2e {
namespace {

const char kBadParams[] =
    "启动参数错误!\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)";

// A skin that fails every event, so that the launcher logs each event it
// hands to the scripts with its data.
const char kFailingSkin[] =
    "Orlune.LuaChunkReg:RegChunk(\"ToLua\", function(call) return -1 end)\n";

std::string Fatal(const std::string& firstLine) {
  return firstLine + "\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)";
}

// An endpoint that keeps the configuration request waiting: the launcher
// stays in its start-up chain.
endpoint::Reply Hanging() {
  endpoint::Reply reply;
  reply.hang = true;
  return reply;
}

TEST(LauncherStart, UnionCodeZeroShowsTheParameterMessage) {
  struct Case {
    std::string args;
    const char* stored;
  } cases[] = {
      {"{\"UC\":0}", nullptr},
      {ParamEnvelope::Wrap("{\"UnionCode\":0,\"SP\":\"x\"}"), nullptr},
      {"", "{\"UnionCode\":0,\"version\":1}"},  // a stored 0 counts as no code: 1
      // Text that is no JSON object: the defaults, and the log says so once.
      {"不是JSON淺|", "{\"UnionCode\":0,\"version\":1}"},
  };
  for (const Case& c : cases) {
    LauncherFolder folder;
    if (c.stored) folder.SetRecord("CFG_ConfigInfo", c.stored);
    const LauncherRun run = folder.RunLauncher(c.args, 20000);
    if (c.stored) {
      // Union code 1: the start goes on, and fails at the configuration
      // request, which nothing answers here.
      EXPECT_EQ(run.exitCode, -1);
      ASSERT_EQ(run.dialogs.size(), 1u);
      EXPECT_EQ(run.dialogs[0], Fatal("CheckConfig 无效的数据!"));
      const std::string log = folder.Log();
      EXPECT_TRUE(Has(log, "&u=1&")) << log;
      const std::string line = "命令行参数不是JSON对象,使用默认设置 params:'" + c.args + "'";
      EXPECT_EQ(Has(log, line), !c.args.empty()) << log;
      EXPECT_EQ(Count(log, "params:"), c.args.empty() ? 0u : 1u) << log;
      continue;
    }
    EXPECT_EQ(run.exitCode, -1) << c.args;
    ASSERT_EQ(run.dialogs.size(), 1u) << c.args;
    EXPECT_EQ(run.dialogs[0], kBadParams);
    EXPECT_TRUE(Has(folder.Log(), "params:'" + c.args + "'")) << folder.Log();
    EXPECT_FALSE(Has(folder.Log(), "下载服务")) << "no window was made";
  }
}

TEST(LauncherStart, WithoutItsDownloadServiceTheLauncherEndsQuietly) {
  LauncherFolder folder;
  folder.Remove("Download.dll");
  const LauncherRun run = folder.RunLauncher("", 20000);
  EXPECT_EQ(run.exitCode, -1);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_TRUE(Has(folder.Log(), "下载服务模块加载失败!")) << folder.Log();
  EXPECT_EQ(FindWindowA("QZ_Lumo_U1", nullptr), nullptr);
}

TEST(LauncherStart, ASecondLauncherOfTheSameUnionCodeWakesTheFirstAndEnds) {
  Operator op;
  ASSERT_TRUE(op.Start());
  op.ReplyWith(Hanging());
  LauncherFolder folder;
  folder.Write("xar\\Lumora1.0.0\\onload.lua", kFailingSkin);
  // Stored, so that a launcher whose command line is no JSON has it too.
  folder.SetRecord("CFG_ConfigInfo", R"({"UnionCode":4})");
  Process first = folder.StartLauncher("{\"UC\":4}");
  // The engine starts 2 s after the launcher, then the skin is loaded.
  ASSERT_TRUE(folder.WaitForLog("BOLT 成功加载XAR包[Lumora1.0.0]", 15000)) << folder.Log();
  ASSERT_NE(FindWindowA("QZ_Lumo_U4", nullptr), nullptr);
  const std::string before = folder.Log();

  // Both share the first one's folder and so its log, which they leave
  // alone: not even the note on a command line that is no JSON is written.
  const std::string seconds[] = {ParamEnvelope::Wrap("{\"UC\":4}"), "不是JSON淺|"};
  size_t woken = 0;
  for (const std::string& args : seconds) {
    SCOPED_TRACE(args);
    const LauncherRun second = folder.RunLauncher(args, 20000);
    EXPECT_EQ(second.exitCode, -1);
    EXPECT_TRUE(second.dialogs.empty());
    // The first one raised "TopWindow" for its scripts, asking to be shown.
    ++woken;
    const DWORD start = GetTickCount();
    while (Count(folder.Log(), "ToLua 执行Lua接口'TopWindow'错误 Data:") < woken &&
           GetTickCount() - start < 10000)
      Sleep(20);
    const std::string log = folder.Log();
    ASSERT_EQ(Count(log, "ToLua 执行Lua接口'TopWindow'错误 Data:"), woken) << log;
    EXPECT_TRUE(Has(log.substr(log.rfind("'TopWindow'错误")), "\"data\" : true")) << log;
    EXPECT_EQ(log.compare(0, before.size(), before), 0) << "the first one's log is intact:\n" << log;
    EXPECT_FALSE(Has(log, "命令行参数不是JSON对象")) << log;
  }
  EXPECT_TRUE(first.Running());
}

TEST(LauncherStart, LaunchersOfDifferentUnionCodesRunSideBySide) {
  Operator op;
  ASSERT_TRUE(op.Start());
  op.ReplyWith(Hanging());
  LauncherFolder one, two;
  Process a = one.StartLauncher("{\"UC\":11}");
  Process b = two.StartLauncher("{\"UnionCode\":12}");
  const DWORD start = GetTickCount();
  while ((!FindWindowA("QZ_Lumo_U11", nullptr) || !FindWindowA("QZ_Lumo_U12", nullptr)) &&
         GetTickCount() - start < 15000)
    Sleep(20);
  EXPECT_NE(FindWindowA("QZ_Lumo_U11", nullptr), nullptr);
  EXPECT_NE(FindWindowA("QZ_Lumo_U12", nullptr), nullptr);
  // Both ask the endpoint with their own union code.
  ASSERT_TRUE(op.Config().WaitForRequests("/starterUpdate.do", 2, 15000));
  std::vector<std::string> codes;
  for (const endpoint::Request& r : op.Config().Requests("/starterUpdate.do"))
    codes.push_back(r.params.at("u"));
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::string>{"11", "12"}));
  EXPECT_TRUE(a.Running());
  EXPECT_TRUE(b.Running());
}

TEST(LauncherUserInterface, StartsOnceOnTheFirstTickAfterTwoSeconds) {
  Operator op;
  ASSERT_TRUE(op.Start());
  op.ReplyWith(Hanging());
  LauncherFolder folder;
  Process launcher = folder.StartLauncher();
  ASSERT_TRUE(folder.WaitForLog("BOLT初始化[成功]", 15000)) << folder.Log();
  Sleep(1500);  // more ticks after 2 s: none starts it again
  const std::string log = folder.Log();
  const int64_t at = LogLineAfter(log, "BOLT初始化[成功]", launcher.Created());
  EXPECT_GE(at, 2000) << log;
  EXPECT_LT(at, 3500) << "the first ticks after 2 s, allowing for a slow machine";
  EXPECT_EQ(Count(log, "BOLT初始化"), 1u) << log;
  EXPECT_EQ(Count(log, "BOLT 成功加载XAR包[Lumora1.0.0]"), 1u) << log;
  EXPECT_LT(log.find("设置XAR包搜索路径("), log.find("BOLT 成功加载XAR包")) << log;
}

TEST(LauncherUserInterface, AnUpdateViewStartsItAtOnceAndOnlyOnce) {
  Operator op;
  ASSERT_TRUE(op.Start());
  // The reply's own call asks for the update view right away; the start then
  // fails for want of a hall, and its dialog stays up past 2 s.
  Json::Value reply = ParseJsonText(op.ConfigReply(1));
  reply["data"].append(R"({"op":"ShowUpdateLoad","version":1,"next":2})");
  op.ReplyWith(JsonText(reply));
  op.ServeConfigData(R"({"platform":{"version":0}})");
  LauncherFolder folder;
  folder.Write("xar\\Lumora1.0.0\\onload.lua", kFailingSkin);
  Process launcher = folder.StartLauncher();
  const LauncherRun run = launcher.Finish(30000, IDCANCEL, 3000);
  ASSERT_EQ(run.dialogs.size(), 1u);
  const std::string log = folder.Log();
  const int64_t at = LogLineAfter(log, "BOLT初始化[成功]", launcher.Created());
  EXPECT_GE(at, 0) << log;
  EXPECT_LT(at, 2000) << log;
  EXPECT_EQ(Count(log, "BOLT初始化"), 1u) << log;
  // The engine was up before the event reached it; the event carries the
  // installed and the coming version.
  const size_t event = log.find("ToLua 执行Lua接口'ShowUpdateLoad'错误 Data:");
  ASSERT_NE(event, std::string::npos) << log;
  EXPECT_LT(log.find("BOLT 成功加载XAR包"), event) << log;
  const std::string data = log.substr(event, log.find("index=", event) - event);
  EXPECT_TRUE(Has(data, "\"old\" : 1")) << data;
  EXPECT_TRUE(Has(data, "\"new\" : 2")) << data;
}

TEST(LauncherUserInterface, WithoutItsSkinFolderTheEngineSaysSo) {
  Operator op;
  ASSERT_TRUE(op.Start());
  op.ReplyWith(Hanging());
  LauncherFolder folder;
  testing_support::RemoveTree(folder.File("xar"));
  ASSERT_FALSE(folder.Exists("xar"));
  Process launcher = folder.StartLauncher();
  ASSERT_TRUE(folder.WaitForLog("BOLT XAR包加载错误!", 15000)) << folder.Log();
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "大厅淺\\xar\\)[失败]")) << log;
  EXPECT_TRUE(Has(log, "BOLT XAR包加载错误!无效的XAR包名或不存在[Lumora1.0.0]")) << log;
  EXPECT_TRUE(launcher.Running()) << "the start goes on without its view";
}

}  // namespace
}  // namespace e2e
