#include "failure_text.h"

#include <gtest/gtest.h>

#include <string>

using testing_support::FailureTextForReaders;

namespace {

// 日志 and 淺 in UTF-8 (u8 literals are UTF-8 whatever the program's code page).
const std::string kLogUtf8 = u8"日志";
const std::string kShallowUtf8 = u8"淺";

}  // namespace

// Code page 936 text streamed into a failure (a log, a dialog's text) reads
// as UTF-8; ASCII and text already in UTF-8 stay as they are.
TEST(FailureText, RawCodePage936TextBecomesUtf8) {
  static_assert(sizeof "日志" == 5, "test sources are compiled to code page 936");
  EXPECT_EQ(FailureTextForReaders("log:\n日志 ok"), "log:\n" + kLogUtf8 + " ok");
  // 淺 is 9C 5C: its second byte is the backslash byte, not an escape.
  EXPECT_EQ(FailureTextForReaders("a\\淺\\b"), "a\\" + kShallowUtf8 + "\\b");
  EXPECT_EQ(FailureTextForReaders("plain text, \"quoted\""), "plain text, \"quoted\"");
  EXPECT_EQ(FailureTextForReaders("already " + kLogUtf8), "already " + kLogUtf8);
  // A lead byte with nothing after it is no character: it stays a byte, escaped.
  EXPECT_EQ(FailureTextForReaders("cut \x81"), "cut \\x81");
}

// GoogleTest prints a string value's bytes as escapes; a value that is code
// page 936 text keeps its exact bytes and gains a line with its text, as
// GoogleTest adds one for UTF-8 values.
TEST(FailureText, PrintedValuesGainTheirTextInUtf8) {
  const std::string log = ::testing::PrintToString(std::string("日志"));
  EXPECT_EQ(log, "\"\\xC8\\xD5\\xD6\\xBE\"") << "GoogleTest's own way of printing it";
  EXPECT_EQ(FailureTextForReaders("  Which is: " + log + "\n  next"),
            "  Which is: " + log + "\n    As Text: \"" + kLogUtf8 + "\"\n  next");

  // 淺 (9C 5C) prints as "\x9C\\"; a hex digit after a hex escape breaks the
  // value in two ("..." "A"): both read as one text.
  const std::string shallow = ::testing::PrintToString(std::string("淺A"));
  EXPECT_EQ(shallow, "\"\\x9C\\\\A\"");
  EXPECT_EQ(FailureTextForReaders(shallow), shallow + "\n    As Text: \"" + kShallowUtf8 + "A\"");
  const std::string split = ::testing::PrintToString(std::string("日A"));
  EXPECT_EQ(split, "\"\\xC8\\xD5\" \"A\"");
  EXPECT_EQ(FailureTextForReaders(split), split + "\n    As Text: \"" + kLogUtf8.substr(0, 3) + "A\"");

  // Values that are no text stay alone: control bytes, a lone lead byte,
  // plain ASCII.
  for (const std::string& bytes : {std::string("\x01\x02\xC8\xD5", 4), std::string("x\x81"),
                                  std::string("ascii")}) {
    const std::string printed = ::testing::PrintToString(bytes);
    EXPECT_EQ(FailureTextForReaders(printed), printed) << printed;
  }
}
