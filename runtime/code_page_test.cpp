#include "code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// 游 D3 CE, 戏 CF B7, 淺 9C 5C: the last one's second byte is a backslash.
constexpr char kGame[] = "游戏";
constexpr char kQian[] = "淺";
static_assert(sizeof kQian == 3 && kQian[0] == '\x9c' && kQian[1] == '\\',
              "sources are compiled to code page 936");

std::string At(size_t at) { return at == std::string::npos ? "npos" : std::to_string(at); }

TEST(CodePage, LeadBytesAreExactly0x81To0xFE) {
  EXPECT_FALSE(cp936::IsLeadByte('\x80'));
  EXPECT_TRUE(cp936::IsLeadByte('\x81'));
  EXPECT_TRUE(cp936::IsLeadByte('\xfe'));
  EXPECT_FALSE(cp936::IsLeadByte('\xff'));
  EXPECT_FALSE(cp936::IsLeadByte('\\'));
  EXPECT_FALSE(cp936::IsLeadByte('\0'));
}

TEST(CodePage, ALeadByteTakesTheNextByteWhateverItIs) {
  const std::string text = std::string("a") + kQian + "\\\x81|\x81";
  // a | 淺 | \ | 81 7C | 81 (alone at the end)
  std::string starts;
  for (size_t i = 0; i < text.size(); i = cp936::NextChar(text, i)) starts += At(i) + " ";
  EXPECT_EQ(starts, "0 1 3 4 6 ");
  EXPECT_EQ(cp936::LastCharStart(text), 6u);
  EXPECT_EQ(cp936::LastCharStart(""), std::string::npos);
  EXPECT_TRUE(cp936::EndsInsideChar(text));
  EXPECT_FALSE(cp936::EndsInsideChar(text.substr(0, 6)));
  EXPECT_FALSE(cp936::EndsInsideChar(""));
}

TEST(CodePage, SearchesSeeOnlyWholeSingleByteCharacters) {
  const std::string path = std::string("C:\\") + kGame + kQian + "\\" + kQian + "|x";
  // C : \ 游 戏 淺 \ 淺 | x  at  0 1 2 3 5 7 9 10 12 13
  struct Case {
    std::string text;
    size_t first, last;
  } cases[] = {
      {path, 2, 9},
      {std::string(kGame) + kQian, std::string::npos, std::string::npos},
      {std::string(kQian) + kQian + "\\", 4, 4},
      {"", std::string::npos, std::string::npos},
      {"a/b\\c", 1, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(At(cp936::FindFirstOf(c.text, "\\/")), At(c.first)) << c.text;
    EXPECT_EQ(At(cp936::FindLastOf(c.text, "\\/")), At(c.last)) << c.text;
  }
  EXPECT_EQ(At(cp936::FindFirstOf(path, "|")), "12");
  EXPECT_EQ(At(cp936::FindFirstOf(path, "\\", 3)), "9");
  EXPECT_EQ(At(cp936::Find(path, "\\")), "2");
  EXPECT_EQ(At(cp936::Find(path, "\\", 3)), "9");
  EXPECT_EQ(At(cp936::Find("\x81://x", "://")), "npos");  // ':' belongs to the 0x81
  EXPECT_EQ(At(cp936::Find("ab://x", "://")), "2");
}

TEST(CodePage, EndsWithLooksAtTheLastWholeCharacter) {
  EXPECT_FALSE(cp936::EndsWithOneOf(std::string("C:\\") + kGame + kQian, "\\/"));
  EXPECT_TRUE(cp936::EndsWithOneOf(std::string("C:\\") + kQian + "\\", "\\/"));
  EXPECT_TRUE(cp936::EndsWithOneOf("x/", "\\/"));
  EXPECT_FALSE(cp936::EndsWithOneOf("", "\\/"));
  EXPECT_FALSE(cp936::EndsWithOneOf("\x81", "\x81"));  // a lone lead byte is no match
}

TEST(CodePage, CutsNeverSplitACharacter) {
  const std::string text = std::string("ab") + kQian + kGame;  // a b 淺 游 戏
  const size_t expected[] = {0, 1, 2, 2, 4, 4, 6, 6, 8, 8};
  for (size_t max = 0; max < sizeof expected / sizeof expected[0]; ++max)
    EXPECT_EQ(cp936::CutLength(text, max), expected[max]) << max;
  EXPECT_EQ(cp936::CutLength("\x81", 0), 0u);
  EXPECT_EQ(cp936::CutLength("a\x81\x5c", 2), 1u);
}

}  // namespace
