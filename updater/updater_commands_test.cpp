#include "updater_commands.h"

#include <gtest/gtest.h>

#include "path_util.h"

namespace {

TEST(UpdaterCommands, InstallerCommandLineKeepsTheCommaAfterSilent) {
  std::string command;
  ASSERT_TRUE(FormatInstallCommand("C:\\Game\\Orlune.pkg.exe", "C:\\Game\\", "", command));
  EXPECT_EQ(command, "\"C:\\Game\\Orlune.pkg.exe\" /SILENT, /VERYSILENT /DIR=\"C:\\Game\\\"");
  ASSERT_TRUE(FormatInstallCommand("C:\\Game\\Orlune.pkg.exe", "C:\\Game\\",
                                   "C:\\Game\\Log\\Install\\Orlune.pkg.log", command));
  EXPECT_EQ(command,
            "\"C:\\Game\\Orlune.pkg.exe\" /SILENT, /VERYSILENT /DIR=\"C:\\Game\\\" "
            "/LOG=\"C:\\Game\\Log\\Install\\Orlune.pkg.log\"");
}

TEST(UpdaterCommands, OpenAndStartProcessCommandLines) {
  std::string command;
  ASSERT_TRUE(FormatOpenCommand("C:\\Game\\Lumora.exe", "MD1234", command));
  EXPECT_EQ(command, "\"C:\\Game\\Lumora.exe\" MD1234");
  ASSERT_TRUE(FormatOpenCommand("C:\\Game\\Lumora.exe", "", command));
  EXPECT_EQ(command, "\"C:\\Game\\Lumora.exe\"");
  ASSERT_TRUE(FormatStartProcessCommand("C:\\Game", "Lumora.exe", "-a", command));
  EXPECT_EQ(command, "C:\\Game\\Lumora.exe -a");
  ASSERT_TRUE(FormatStartProcessCommand("C:\\Game", "Lumora.exe", "", command));
  EXPECT_EQ(command, "C:\\Game\\Lumora.exe ");
}

TEST(UpdaterCommands, CommandLinesThatDoNotFitAreRefusedNotCut) {
  std::string command = "unchanged";
  const std::string dir = "C:\\" + std::string(1000, 'd') + "\\";
  // 10 + 28 + 1004 + 1 = 1043 characters: over the 1040-byte buffer.
  EXPECT_FALSE(FormatInstallCommand("C:\\p.exe", dir, "", command));
  EXPECT_EQ(command, "unchanged");
  // Exactly 1039 characters fit.
  const std::string target(1037, 't');
  EXPECT_TRUE(FormatOpenCommand(target, "", command));
  EXPECT_EQ(command.size(), 1039u);
  EXPECT_FALSE(FormatOpenCommand(target + "t", "", command));
  // StartProcess has 2080 bytes.
  EXPECT_TRUE(FormatStartProcessCommand("C:", std::string(2000, 'n'), "", command));
  EXPECT_FALSE(FormatStartProcessCommand("C:", std::string(2076, 'n'), "", command));
}

// A program folder whose name ends in 淺 (9C 5C): the 0x5C is that
// character's second byte, not a separator.
TEST(UpdaterCommands, ChineseFoldersResolveWhole) {
  std::string out;
  ASSERT_TRUE(ResolvePath("下载淺\\Tessel.pkg.exe", "C:\\游戏淺", out));
  EXPECT_EQ(out, "C:\\游戏淺\\下载淺\\Tessel.pkg.exe");
  ASSERT_TRUE(ResolvePath("..\\游戏大厅\\x.exe", "C:\\游戏淺\\", out));
  EXPECT_EQ(out, "C:\\游戏大厅\\x.exe");
  EXPECT_EQ(WithTrailingBackslash("C:\\游戏淺"), "C:\\游戏淺\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\游戏淺\\"), "C:\\游戏淺\\");
  // A relative path that looks like a drive once "." is gone is still
  // joined to its base.
  ASSERT_TRUE(ResolvePath("./c:x", "C:\\游戏淺", out));
  EXPECT_EQ(out, "C:\\游戏淺\\c:x");
}

TEST(UpdaterCommands, PathsResolveAgainstTheBase) {
  std::string out;
  ASSERT_TRUE(ResolvePath("Download\\..\\Lumora.exe", "C:\\Game", out));
  EXPECT_EQ(out, "C:\\Game\\Lumora.exe");
  ASSERT_TRUE(ResolvePath("D:/Other/./x.exe", "C:\\Game", out));
  EXPECT_EQ(out, "D:\\Other\\x.exe");
  // A leading ".." climbs into the base once joined.
  ASSERT_TRUE(ResolvePath("..\\Platform", "C:\\Game", out));
  EXPECT_EQ(out, "C:\\Platform");
  ASSERT_TRUE(ResolvePath("Download\\..\\..\\x.exe", "C:\\Game\\Sub\\", out));
  EXPECT_EQ(out, "C:\\Game\\x.exe");
  ASSERT_TRUE(CanonicalPath("a\\b\\..\\c", out));
  EXPECT_EQ(out, "a\\c");
  EXPECT_EQ(WithTrailingBackslash("C:\\Game"), "C:\\Game\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\Game\\"), "C:\\Game\\");

  // Joined to the base the path would not fit: refused, `out` untouched.
  out = "unchanged";
  const std::string name(1030, 'n');
  EXPECT_TRUE(CanonicalPath(name, out));
  out = "unchanged";
  EXPECT_FALSE(ResolvePath(name, "C:\\Game\\Folder", out));
  EXPECT_EQ(out, "unchanged");
  EXPECT_FALSE(CanonicalPath(std::string(kPathBufferSize, 'x'), out));
  EXPECT_FALSE(CanonicalPath(std::string("a\0b", 3), out));
}

}  // namespace
