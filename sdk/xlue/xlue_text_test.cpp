#include "xlue_text.h"

#include <gtest/gtest.h>

namespace xlue {
namespace {

TEST(XlueText, Utf8IsToldFromCodePage936) {
  const struct {
    std::string text;
    bool utf8;
  } cases[] = {
      {"", true},
      {"plain ascii", true},
      {u8"中文 and 淺", true},
      {"\xf0\x9f\x98\x80", true},          // outside the BMP
      {"中文", false},                      // the same characters in code page 936
      {"\x9c\x5c", false},                  // 淺 in code page 936
      {"\xc0\xaf", false},                  // overlong '/'
      {"\xe0\x80\xaf", false},              // overlong, three bytes
      {"\xed\xa0\x80", false},              // a UTF-16 surrogate
      {"\xf4\x90\x80\x80", false},          // beyond U+10FFFF
      {"\xe4\xb8", false},                  // cut short
      {"\x80", false},                      // a continuation byte first
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.utf8) << c.text;
}

TEST(XlueText, ScriptTextReachesTheHostInItsEncodings) {
  EXPECT_EQ(ScriptTextToWide(u8"版本 2"), L"版本 2");
  EXPECT_EQ(ScriptTextToWide("版本 2"), L"版本 2") << "code page 936 text from the host";
  EXPECT_EQ(ScriptTextToAcp(u8"淺 x"), "淺 x");
  EXPECT_EQ(ScriptTextToAcp("淺 x"), "淺 x") << "not UTF-8: passed through";
  EXPECT_EQ(WideToUtf8(L"你好"), u8"你好");
  std::wstring wide;
  EXPECT_TRUE(AcpToWide("淺", wide));
  EXPECT_EQ(wide, L"淺");
  EXPECT_FALSE(AcpToWide("\x9c", wide)) << "half a character";
  EXPECT_FALSE(Utf8ToWide("\xc0\xaf", wide));
  EXPECT_TRUE(Utf8ToWide("", wide));
  EXPECT_TRUE(wide.empty());
}

TEST(XlueText, LinesEndWithCarriageReturnAndNewline) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {"\r\n"}},
      {"one", {"one\r\n"}},
      {"one\n", {"one\r\n"}},
      {"one\r\ntwo", {"one\r\n", "two\r\n"}},
      {"a\n\nb\n", {"a\r\n", "\r\n", "b\r\n"}},
      {"\tx\r", {"\tx\r\r\n"}},  // a lone carriage return is text
      {"淺\n淺", {"淺\r\n", "淺\r\n"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

}  // namespace
}  // namespace xlue
