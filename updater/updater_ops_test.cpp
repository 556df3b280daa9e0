// The operations driven in-process through the engine, for what a run of the
// real program cannot reach from its command line: Quit with a "code",
// StartProcess, and the failures that carry no log line.
#include "updater_ops.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "bcrypt_trust.h"
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

// A copy that carries the signed digest copies the package only as the
// bytes it read and checked; another package leaves the destination alone.
TEST_F(UpdaterOps, ACopyWithItsSignedDigestCopiesOnlyTheCheckedBytes) {
  const std::string source = folder_.File("Lumora.pkg.exe");
  const std::string destination = folder_.File("Lumora.exe");
  const std::string package(300000, 'n');
  ASSERT_TRUE(testing_support::WriteFileBytes(source, package));
  trust::Digest digest{};
  ASSERT_TRUE(trust::Sha256Of(package, digest));
  trust::Digest other{};
  ASSERT_TRUE(trust::Sha256Of(package + "x", other));
  const struct {
    const char* name;
    std::string sha256;
    int64_t size;
    bool copied;
  } cases[] = {
      {"another package", trust::DigestText(other), -1, false},
      {"the signed package of another size", trust::DigestText(digest), 299999, false},
      {"the signed package", trust::DigestText(digest), 300000, true},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(testing_support::WriteFileBytes(destination, "old launcher"));
    Json::Value call;
    call["op"] = "CopyFile";
    call["file"] = source;
    call["path"] = destination;
    call["sha256"] = c.sha256;
    if (c.size >= 0) call["size"] = static_cast<Json::Int64>(c.size);
    call["then"]["op"] = "Probe";
    g_probes = 0;
    Run(rt::StyledText(call));
    ASSERT_EQ(g_probes, 1) << c.name;
    EXPECT_EQ(g_probed["result"]["status"], c.copied) << c.name;
    std::string now;
    ASSERT_TRUE(testing_support::ReadFileBytes(destination, now)) << c.name;
    EXPECT_TRUE(now == (c.copied ? package : std::string("old launcher"))) << c.name;
    EXPECT_FALSE(testing_support::ReadFileBytes(destination + ".new", now)) << c.name;
    if (!c.copied) {
      EXPECT_EQ(g_probed["result"]["error"].asInt(), ERROR_INVALID_DATA) << c.name;
    }
  }
  const std::string log = OwnLog();
  EXPECT_NE(log.find("更新包校验失败 文件:'" + source + "' 期望sha256:" + trust::DigestText(other) +
                     " 实际sha256:" + trust::DigestText(digest)),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("更新包校验通过 文件:'" + source + "'"), std::string::npos) << log;
}

}  // namespace
