#include "command_tail.h"

#include <gtest/gtest.h>

TEST(CommandTail, IsWhatFollowsTheProgramName) {
  EXPECT_EQ(CommandTail("\"C:\\Program Files\\Lumora\\Portus.exe\" \"lum://open 5\""),
            "\"lum://open 5\"");
  EXPECT_EQ(CommandTail("C:\\Lumora\\Portus.exe \t  \"lum://room/\""), "\"lum://room/\"");
  // Chinese characters in an unquoted path belong to the path, and a tail
  // that starts with them keeps them.
  EXPECT_EQ(CommandTail("C:\\游戏大厅\\Portus.exe \"lum://room/5/\""), "\"lum://room/5/\"");
  EXPECT_EQ(CommandTail("\"D:\\游戏 大厅\\Portus.exe\" 游戏://x"), "游戏://x");
  EXPECT_EQ(CommandTail("C:\\游戏淺\\Portus.exe 淺\\"), "淺\\");
  // A lead byte takes the next byte with it, even a blank.
  EXPECT_EQ(CommandTail("C:\\\x81 x.exe \"t\""), "\"t\"");
  // Quotes inside the name keep its blanks; the tail is kept as it is.
  EXPECT_EQ(CommandTail("C:\\a\"b c\"\\Portus.exe lum://open  7 "), "lum://open  7 ");
  EXPECT_EQ(CommandTail("Portus.exe"), "");
  EXPECT_EQ(CommandTail("Portus.exe   "), "");
  EXPECT_EQ(CommandTail("\"Portus.exe"), "");
  EXPECT_EQ(CommandTail(""), "");
}
