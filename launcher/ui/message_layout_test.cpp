#include "message_layout.h"

#include <gtest/gtest.h>

TEST(MessageLayout, LinesEndAtEveryLineFeedAndCarriageReturn) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitMessageLines("a\n\rb"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitMessageLines(""), (V{""}));
  EXPECT_EQ(SplitMessageLines("one line"), (V{"one line"}));
  EXPECT_EQ(SplitMessageLines("x\r\n"), (V{"x", "", ""}));
  EXPECT_EQ(SplitMessageLines(std::string(1000, '\n')).size(), 1001u);
}

TEST(MessageLayout, PixelsFollowTheMessageSize) {
  const MessageLayout l = ComputeMessageLayout(200, 48);
  EXPECT_EQ(l.text.left, 15);
  EXPECT_EQ(l.text.top, 25);
  EXPECT_EQ(l.text.right, 200);
  EXPECT_EQ(l.text.bottom, 48);
  EXPECT_EQ(l.button.left, 70);
  EXPECT_EQ(l.button.top, 83);
  EXPECT_EQ(l.button.right, 90);
  EXPECT_EQ(l.button.bottom, 30);
  EXPECT_EQ(l.dialog.cx, 230);
  EXPECT_EQ(l.dialog.cy, 158);
  const MessageLayout empty = ComputeMessageLayout(0, 16);
  EXPECT_EQ(empty.dialog.cx, 30);
  EXPECT_EQ(empty.button.left, -30);
  // Absurd sizes stay within range instead of wrapping around.
  const MessageLayout huge = ComputeMessageLayout(1LL << 40, 1LL << 40);
  EXPECT_GT(huge.dialog.cx, huge.text.right);
  EXPECT_GT(huge.dialog.cy, huge.text.bottom);
}
