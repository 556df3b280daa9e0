#include "statement_format.h"

#include <gtest/gtest.h>

namespace strata {
namespace {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out;
  std::string error;
  const bool ok = FormatStatement(format, args, out, error);
  va_end(args);
  return ok ? out : "<error: " + error + ">";
}

TEST(FormatStatement, TextInsideQuotesHasItsQuotesDoubled) {
  EXPECT_EQ(Format("REPLACE INTO config(name,value) VALUES ('%s','%s');", "it's", "a'b''c"),
            "REPLACE INTO config(name,value) VALUES ('it''s','a''b''''c');");
  // Double quotes inside a single-quoted literal are ordinary characters.
  EXPECT_EQ(Format("SELECT '%s'", "say \"hi\""), "SELECT 'say \"hi\"'");
  // Inside a double-quoted identifier the double quote is the one doubled.
  EXPECT_EQ(Format("SELECT * FROM \"%s\"", "a\"b'c"), "SELECT * FROM \"a\"\"b'c\"");
}

TEST(FormatStatement, LiteralStateFollowsTheFormatNotTheArguments) {
  // A quote inside an argument must not flip the state for what follows.
  EXPECT_EQ(Format("SELECT '%s', %s", "'", "1"), "SELECT '''', 1");
  // Doubled quotes in the format itself keep us inside the literal.
  EXPECT_EQ(Format("SELECT 'x''%s'", "'"), "SELECT 'x'''''");
  // Outside any literal the text goes in unchanged.
  EXPECT_EQ(Format("SELECT %s FROM config", "name"), "SELECT name FROM config");
}

TEST(FormatStatement, BytesPassThroughUnchanged) {
  // Code page 936 bytes (including a second byte of 0x5c) and backslashes.
  const char text[] = "\xc8\xd5\xd6\xbe \xd5\x5c C:\\dir\\";
  EXPECT_EQ(Format("'%s'", text), std::string("'") + text + "'");
  EXPECT_EQ(Format("'%s'", ""), "''");
  EXPECT_EQ(Format("'%s'", static_cast<const char*>(nullptr)), "''");
}

TEST(FormatStatement, NumbersAndOtherConversions) {
  EXPECT_EQ(Format("%d %i %u %x %X %o", -5, 7, 4000000000u, 255, 255, 8), "-5 7 4000000000 ff FF 10");
  EXPECT_EQ(Format("%ld %lld %I64d %zu", -1L, -9000000000LL, 9000000000LL, static_cast<size_t>(3)),
            "-1 -9000000000 9000000000 3");
  EXPECT_EQ(Format("%05d|%-4d|%+d|%.2f|%g", 42, 7, 3, 1.005, 0.5), "00042|7   |+3|1.00|0.5");
  EXPECT_EQ(Format("%c%c 100%%", 'o', 'k'), "ok 100%");
  EXPECT_EQ(Format("'%c'", '\''), "''''");
  EXPECT_EQ(Format("[%5s|%-3s|%.2s]", "ab", "c", "xyz"), "[   ab|c  |xy]");
  // A padded text inside quotes is still protected.
  EXPECT_EQ(Format("'%3s'", "'"), "'  '''");
}

TEST(FormatStatement, UnsupportedConversionsAreRefused) {
  EXPECT_EQ(Format("SELECT %*d", 3, 4), "<error: unsupported conversion \"%*\" in the statement format>");
  EXPECT_EQ(Format("SELECT %n"), "<error: unsupported conversion \"%n\" in the statement format>");
  EXPECT_EQ(Format("SELECT %"), "<error: unsupported conversion \"%\" in the statement format>");
  EXPECT_EQ(Format("%ls", L"x"), "<error: unsupported conversion \"%ls\" in the statement format>");
  std::string out, error;
  va_list none{};
  EXPECT_FALSE(FormatStatement(nullptr, none, out, error));
}

}  // namespace
}  // namespace strata
