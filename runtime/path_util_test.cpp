#include "path_util.h"

#include <gtest/gtest.h>

namespace {

// 淺 is 9C 5C: its second byte is the backslash byte.
constexpr char kQian[] = "淺";
static_assert(kQian[1] == '\\', "sources are compiled to code page 936");

}  // namespace

TEST(PathUtil, CanonicalizeResolvesDotsWithinTheRoot) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\a\\.\\b\\..\\c.exe", "C:\\a\\c.exe"},
      {"C:\\..\\..\\x", "C:\\x"},
      {"C:/a/b/../c", "C:\\a\\c"},
      {"\\\\server\\share\\..\\x", "\\\\server\\share\\x"},
      {"\\a\\..\\..\\b", "\\b"},
      {"a\\..\\b", "b"},
      {"..\\x\\y", "..\\x\\y"},
      {".\\tools\\..\\Updater.exe", "Updater.exe"},
      {"C:\\dir\\sub\\", "C:\\dir\\sub\\"},
      {"C:\\a\\\\b", "C:\\a\\b"},
      {"", ""},
      // A relative path keeps its way back to its base when its first part
      // looks like a drive.
      {"./c:x", ".\\c:x"},
      {"./x:./y", ".\\x:.\\y"},
      {"a\\..\\c:", ".\\c:"},
      {"c:x", "c:x"},
  };
  for (const auto& c : cases) EXPECT_EQ(CanonicalizePath(c.first), c.second) << c.first;
}

// Program folders named in code page 936, such as "C:\游戏淺\" or
// "C:\游戏大厅\": a character's second byte 0x5C is not a separator.
TEST(PathUtil, ChineseFolderNamesStayWhole) {
  const std::string game = std::string("游戏") + kQian;  // ends in 9C 5C
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\" + game + "\\.\\Lumora.exe", "C:\\" + game + "\\Lumora.exe"},
      {"C:\\" + game + "\\..\\x", "C:\\x"},
      {"C:\\" + game + "\\", "C:\\" + game + "\\"},
      {"C:\\" + game, "C:\\" + game},
      {"C:/" + game + "/" + kQian + "/..", "C:\\" + game},
      {game + "\\..", ""},
      {"\\\\" + game + "\\" + kQian + "\\..\\x", "\\\\" + game + "\\" + kQian + "\\x"},
      {"C:\\游戏大厅\\Download\\..\\Lumora.exe", "C:\\游戏大厅\\Lumora.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(CanonicalizePath(c.first), c.second) << c.first;

  const std::string folder = "C:\\" + game;
  EXPECT_EQ(JoinPath(folder, "Lumora.exe"), folder + "\\Lumora.exe");
  EXPECT_EQ(JoinPath(folder + "\\", "Lumora.exe"), folder + "\\Lumora.exe");
  EXPECT_EQ(JoinPath("C:\\游戏大厅", "Log\\x.log"), "C:\\游戏大厅\\Log\\x.log");
  EXPECT_EQ(ParentFolder(folder + "\\Updater.exe"), folder);
  EXPECT_EQ(ParentFolder(folder), "C:\\");
  EXPECT_EQ(ParentFolder(game), "");
  EXPECT_EQ(FileNamePart(folder), game);
  EXPECT_EQ(FileNamePart(folder + "\\" + kQian + ".exe"), std::string(kQian) + ".exe");
  EXPECT_FALSE(EndsWithSeparator(folder));
  EXPECT_TRUE(EndsWithSeparator(folder + "\\"));
  EXPECT_TRUE(EndsWithSeparator("a/"));
  EXPECT_FALSE(EndsWithSeparator(""));
}

TEST(PathUtil, CanonicalisingTwiceChangesNothingAndKeepsRelativePathsRelative) {
  const std::string samples[] = {
      "./c:x", "./x:./y", "..\\..\\a", "\\\\s\\sh\\..\\..", "//a", "C:..\\x",
      "\\\\\\x", std::string("a") + kQian + "\\..\\b\\", std::string(".\\") + kQian,
      "x\\.\\.\\", "\\..", "C:", "c:/", "\x81\\", "a\\\x81",
  };
  for (const std::string& path : samples) {
    const std::string once = CanonicalizePath(path);
    EXPECT_EQ(CanonicalizePath(once), once) << path;
    EXPECT_EQ(IsRelativePath(once), IsRelativePath(path)) << path;
  }
}

TEST(PathUtil, RelativeJoinAndParts) {
  EXPECT_TRUE(IsRelativePath("a\\b"));
  EXPECT_TRUE(IsRelativePath(""));
  EXPECT_FALSE(IsRelativePath("C:\\a"));
  EXPECT_FALSE(IsRelativePath("c:a"));
  EXPECT_FALSE(IsRelativePath("\\a"));
  EXPECT_EQ(JoinPath("C:\\dir", "x.exe"), "C:\\dir\\x.exe");
  EXPECT_EQ(JoinPath("C:\\dir\\", "\\x.exe"), "C:\\dir\\x.exe");
  EXPECT_EQ(JoinPath("", "x.exe"), "x.exe");
  EXPECT_EQ(ParentFolder("C:\\dir\\x.exe"), "C:\\dir");
  EXPECT_EQ(ParentFolder("C:\\x.exe"), "C:\\");
  EXPECT_EQ(ParentFolder("x.exe"), "");
  EXPECT_EQ(FileNamePart("C:\\dir\\x.exe"), "x.exe");
}

TEST(PathUtil, ProgramFolderHoldsTheProgram) {
  const std::string path = ProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(FolderExists(ProgramFolder()));
  EXPECT_FALSE(FileExists(ProgramFolder()));
  EXPECT_EQ(JoinPath(ProgramFolder(), FileNamePart(path)), path);
}
