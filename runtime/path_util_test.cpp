#include "path_util.h"

#include <gtest/gtest.h>

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
  };
  for (const auto& c : cases) EXPECT_EQ(CanonicalizePath(c.first), c.second) << c.first;
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
