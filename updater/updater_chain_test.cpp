#include "updater_chain.h"

#include <gtest/gtest.h>

#include "json_util.h"

namespace {

Json::Value Parse(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(rt::ParseJson(text, v)) << text;
  return v;
}

TEST(InstallerLog, StemIsTheLastComponentUpToItsLastDot) {
  EXPECT_EQ(InstallerLogStem("Orlune.pkg.exe"), "Orlune.pkg");
  EXPECT_EQ(InstallerLogStem("C:\\Game\\Download\\Tessel.pkg.exe"), "Tessel.pkg");
  EXPECT_EQ(InstallerLogStem("Download/Tessel.exe"), "Tessel");
  EXPECT_EQ(InstallerLogStem("Download\\sub/Tessel.exe"), "sub/Tessel");  // backslash first
  EXPECT_EQ(InstallerLogStem("Download\\Tessel.exe\\\\"), "Tessel");      // trailing ones ignored
  EXPECT_EQ(InstallerLogStem("Download\\setup"), "setup");
  EXPECT_EQ(InstallerLogStem("Download\\.exe"), "");
  EXPECT_EQ(InstallerLogStem(".exe"), "");
  // Code page 936 names: 淺 ends in the byte 0x5C, which is no separator.
  EXPECT_EQ(InstallerLogStem("下载淺\\Tessel.pkg.exe"), "Tessel.pkg");
  EXPECT_EQ(InstallerLogStem("C:\\游戏淺\\安装淺.exe"), "安装淺");
  EXPECT_EQ(InstallerLogStem("游戏淺"), "游戏淺");
  EXPECT_EQ(InstallerLogStem("游戏淺\\"), "游戏淺");
}

TEST(InstallerLog, PathIsBelowTheProgramFolderOrNamedAfterTheTime) {
  EXPECT_EQ(InstallerLogPath("C:\\Game", "Download\\Orlune.pkg.exe", 1700000000),
            "C:\\Game\\Log\\Install\\Orlune.pkg.log");
  EXPECT_EQ(InstallerLogPath("C:\\Game", ".exe", 1700000000),
            "C:\\Game\\Log\\Install\\1700000000.log");
  // The low 32 bits of the time, read as a signed number.
  EXPECT_EQ(InstallerLogPath("C:\\Game", ".exe", 3000000000LL),
            "C:\\Game\\Log\\Install\\-1294967296.log");
  EXPECT_EQ(InstallerLogPath("C:\\游戏淺", "下载淺\\Orlune.pkg.exe", 0),
            "C:\\游戏淺\\Log\\Install\\Orlune.pkg.log");
}

TEST(StartChain, CopyThenRunTheCopyThenQuit) {
  UpdaterArgs args;
  args.options = kOptCopy | kOptRunAfter | kOptInstallNoLimit;
  args.targetPath = "Download\\Lumora.exe";
  args.copyPath = "Lumora.exe";
  args.startParams = "MD123";
  args.directory = "D:\\Game";
  const Json::Value first = BuildStartChain(args, "C:\\Game", 0);
  EXPECT_EQ(first, Parse(R"({"op":"CopyFile","file":"Download\\Lumora.exe","path":"Lumora.exe",
      "then":{"op":"OpenFile","file":"Lumora.exe","params":"MD123","dir":"D:\\Game","wait":false,
              "then":{"op":"Quit"}}})"));
}

TEST(StartChain, ACopyTakesItsSignedDigestAndSizeAlong) {
  UpdaterArgs args;
  args.options = kOptCopy | kOptInstallNoLimit;
  args.targetPath = "Download\\Lumora.pkg.exe";
  args.copyPath = "C:\\Game\\Lumora.exe";
  args.hasDigest = true;
  args.digest.fill(0xAB);
  args.size = 77;
  const Json::Value first = BuildStartChain(args, "C:\\Game", 0);
  std::string digest;
  for (int i = 0; i < 32; ++i) digest += "ab";
  EXPECT_EQ(first, Parse(R"({"op":"CopyFile","file":"Download\\Lumora.pkg.exe",
      "path":"C:\\Game\\Lumora.exe","sha256":")" + digest + R"(","size":77,
      "then":{"op":"Quit"}})"));
  args.hasDigest = false;
  EXPECT_FALSE(BuildStartChain(args, "C:\\Game", 0).isMember("sha256"));
}

TEST(StartChain, OpenWinsOverTheCopyDestinationAndCodeSetsTheWaits) {
  UpdaterArgs args;
  args.options = kOptInstall | kOptRunAfter | kOptWaitRunAfter;  // "code" 48
  args.targetPath = "Download\\Tessel.pkg.exe";
  args.open = "Lumora.exe";
  const Json::Value first = BuildStartChain(args, "C:\\Game", 0);
  EXPECT_EQ(first, Parse(R"({"op":"Install","file":"Download\\Tessel.pkg.exe","dir":"",
      "wait":false,"log":"C:\\Game\\Log\\Install\\Tessel.pkg.log",
      "then":{"op":"OpenFile","file":"Lumora.exe","params":"","dir":"","wait":true,
              "then":{"op":"Quit"}}})"));
}

TEST(StartChain, WithoutARunTheFirstCallEndsInQuit) {
  UpdaterArgs args;
  args.options = kOptInstall | kOptInstallNoLimit;
  args.targetPath = "Orlune.pkg.exe";
  args.directory = "Orlune";
  const Json::Value first = BuildStartChain(args, "C:\\Game", 0);
  EXPECT_EQ(first["then"], Parse(R"({"op":"Quit"})"));
  EXPECT_EQ(first["wait"], true);
  EXPECT_EQ(first["dir"], "Orlune");
}

TEST(QuitCode, FromStatusThenCode) {
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit"})")), 0);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"status":true}})")), 0);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"status":false,"error":5}})")), -1);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"status":7}})")), 7);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"status":"false"}})")), 0);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"error":5}})")), 0);
  // StartProcess hands on a bare flag, which has no status.
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":false})")), 0);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"status":true},"code":5})")), 5);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"status":false},"code":0})")), 0);
  EXPECT_EQ(QuitExitCode(Parse(R"({"op":"Quit","result":{"status":false},"code":"5"})")), -1);
}

}  // namespace
