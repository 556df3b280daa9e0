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

// The format is read as SQLite reads it: an apostrophe in a comment or in a
// bracketed or backquoted name opens no literal.
TEST(FormatStatement, CommentsAndQuotedNamesAreFollowed) {
  const char injection[] = "x' OR '1'='1";
  EXPECT_EQ(Format("SELECT value FROM config -- the key's row\n WHERE name='%s'", injection),
            "SELECT value FROM config -- the key's row\n WHERE name='x'' OR ''1''=''1'");
  EXPECT_EQ(Format("SELECT /* it's */ value FROM config WHERE name='%s'", injection),
            "SELECT /* it's */ value FROM config WHERE name='x'' OR ''1''=''1'");
  EXPECT_EQ(Format("SELECT [it's] FROM t WHERE k='%s'", injection),
            "SELECT [it's] FROM t WHERE k='x'' OR ''1''=''1'");
  EXPECT_EQ(Format("SELECT `it's` FROM t WHERE k='%s'", injection),
            "SELECT `it's` FROM t WHERE k='x'' OR ''1''=''1'");
  // Inside backquotes the backquote is the one doubled.
  EXPECT_EQ(Format("SELECT * FROM `%s`", "a`b'c"), "SELECT * FROM `a``b'c`");
  // A value that stays inside its comment or bracket is fine.
  EXPECT_EQ(Format("SELECT 1 -- row %d\n", 5), "SELECT 1 -- row 5\n");
  EXPECT_EQ(Format("SELECT [%s]", "col 1"), "SELECT [col 1]");
  // "- -" and "/ *" that the format splits are not comments.
  EXPECT_EQ(Format("SELECT 1 - -%d, 2/ *3", 1), "SELECT 1 - -1, 2/ *3");
}

TEST(FormatStatement, ValuesThatWouldChangeTheStructureAreRefused) {
  const struct {
    std::string got;
    const char* why;
  } cases[] = {
      {Format("SELECT [%s]", "a]; DROP TABLE t; --"), "closes the bracket"},
      {Format("SELECT 1 -- %s\nFROM t", "x\nDROP TABLE t"), "ends the comment"},
      {Format("SELECT 1 /* %s */", "*/ DROP TABLE t /*"), "ends the comment"},
      {Format("DELETE FROM t WHERE k=1-%d AND v='x'", -5), "\"--5\" is a comment"},
      {Format("DELETE FROM t WHERE k=%s-1 AND v='x'", "1-"), "\"1--1\" is a comment"},
      {Format("SELECT 1-%s-1", ""), "\"1--1\" is a comment"},
      {Format("SELECT %s FROM t", "x' FROM t --"), "opens a quote"},
      {Format("SELECT %s FROM t", "-- all"), "opens a comment"},
      {Format("SELECT '%c'", 0), "a zero byte"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.got.compare(0, 8, "<error: "), 0) << c.why << ": " << c.got;
  // Balanced text outside quotes is the caller's own statement text.
  EXPECT_EQ(Format("SELECT %s FROM t", "a, 'b', [c] /* d */"), "SELECT a, 'b', [c] /* d */ FROM t");
}

TEST(FormatStatement, FormatsThatEndInsideAQuoteAreRefused) {
  for (const char* format : {"SELECT 'x", "SELECT \"x", "SELECT [x", "SELECT `x", "SELECT 'it''"}) {
    std::string out, error;
    EXPECT_FALSE(FormatStatementF(out, error, format)) << format;
    EXPECT_EQ(error, "the statement format ends inside a quote or bracket") << format;
  }
  // An open comment at the end is one SQLite accepts.
  EXPECT_EQ(Format("SELECT 1 /* note"), "SELECT 1 /* note");
  EXPECT_EQ(Format("SELECT 1 -- note"), "SELECT 1 -- note");
}

TEST(FormatStatement, WidthsAndPrecisionsAreHeldToTheLimit) {
  EXPECT_EQ(Format("%4096d", 1).size(), 4096u);
  EXPECT_EQ(Format("%.4096f", 1.0).size(), 4098u);
  EXPECT_EQ(Format("%2000000000d", 1), "<error: a width above 4096 in the statement format>");
  EXPECT_EQ(Format("%4097s", "x"), "<error: a width above 4096 in the statement format>");
  EXPECT_EQ(Format("%.99999999999999999999d", 1),
            "<error: a precision above 4096 in the statement format>");
  // A precision on text cuts between code page 936 characters.
  EXPECT_EQ(Format("'%.3s'", "\xd3\xce\xcf\xb7"), "'\xd3\xce'");
  EXPECT_EQ(Format("'%5.3s'", "\xd3\xce\xcf\xb7"), "'   \xd3\xce'");
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
