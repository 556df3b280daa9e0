#include "json_util.h"

#include <gtest/gtest.h>

namespace {

Json::Value Parse(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(rt::ParseJson(text, v)) << text;
  return v;
}

}  // namespace

TEST(JsonUtil, IntegersCountOnlyAsSigned32BitJsonIntegers) {
  const Json::Value v = Parse(
      R"({"a": 5, "b": -2147483648, "c": 2147483647, "d": 2147483648, "e": 4294967295,
          "f": -2147483649, "g": 1.0, "h": 3e2, "i": "7", "j": true, "k": null})");
  int32_t out = 99;
  EXPECT_TRUE(rt::ReadInt(v, "a", out));
  EXPECT_EQ(out, 5);
  EXPECT_TRUE(rt::ReadInt(v, "b", out));
  EXPECT_EQ(out, INT32_MIN);
  EXPECT_TRUE(rt::ReadInt(v, "c", out));
  EXPECT_EQ(out, INT32_MAX);
  for (const char* key : {"d", "e", "f", "g", "h", "i", "j", "k", "missing"}) {
    out = 99;
    EXPECT_FALSE(rt::ReadInt(v, key, out)) << key;
    EXPECT_EQ(out, 99) << key;
  }
  EXPECT_EQ(rt::IntMember(v, "e", -7), -7);
}

TEST(JsonUtil, BooleansAndStringsCountOnlyWithTheirOwnType) {
  const Json::Value v = Parse(R"({"t": true, "f": false, "one": 1, "s": "x", "n": 3, "z": "true"})");
  EXPECT_TRUE(rt::BoolMember(v, "t"));
  EXPECT_FALSE(rt::BoolMember(v, "f", true));
  EXPECT_FALSE(rt::BoolMember(v, "one"));
  EXPECT_TRUE(rt::BoolMember(v, "z", true)) << "a string is not a boolean: default kept";
  EXPECT_EQ(rt::StringMember(v, "s"), "x");
  EXPECT_EQ(rt::StringMember(v, "n", "dflt"), "dflt");
  // Members of a value that is not an object are all absent.
  EXPECT_EQ(rt::IntMember(Json::Value(5), "a", 1), 1);
  EXPECT_EQ(rt::StringMember(Parse("[1,2]"), "0", "d"), "d");
}

TEST(JsonUtil, ObjectTestAcceptsNull) {
  EXPECT_TRUE(rt::IsObjectOrNull(Json::Value()));
  EXPECT_TRUE(rt::IsObjectOrNull(Parse("{}")));
  EXPECT_FALSE(rt::IsObjectOrNull(Parse("[]")));
  EXPECT_FALSE(rt::IsObjectOrNull(Json::Value("x")));
  EXPECT_FALSE(rt::IsNonEmptyObject(Parse("{}")));
  EXPECT_TRUE(rt::IsNonEmptyObject(Parse(R"({"op":"A"})")));
}

TEST(JsonUtil, ReaderAcceptsCommentsAndIgnoresTrailingText) {
  Json::Value v = Parse("// a comment\n{\"op\": /* inline */ \"A\"} trailing");
  EXPECT_EQ(v["op"].asString(), "A");
  Json::Value untouched(7);
  EXPECT_FALSE(rt::ParseJson("not json", untouched));
  EXPECT_EQ(untouched.asInt(), 7);
}

TEST(JsonUtil, StyledTextReadsBackToTheSameValue) {
  const Json::Value v = Parse(R"({"op":"A","n":[1,2,{"x":"日志"}],"then":{"op":"B"}})");
  const std::string text = rt::StyledText(v);
  EXPECT_NE(text.find('\n'), std::string::npos) << "styled text spreads over lines";
  // Code page 936 text passes through as its own bytes, never as \u escapes.
  EXPECT_NE(text.find("\"x\" : \"日志\""), std::string::npos) << text;
  EXPECT_EQ(rt::StyledText(Json::Value("a\"b\\c\n\x01")), "\"a\\\"b\\\\c\\n\\u0001\"\n");
  EXPECT_EQ(Parse(text), v);
}

// Whatever is read is written so that it reads back equal: the engine
// re-writes every call it queues.
TEST(JsonUtil, EveryValueReadIsWrittenSoThatItReadsBackEqual) {
  const std::string texts[] = {
      // A member name holding a zero byte is written whole, not cut at it.
      R"({"a\u0000b":1,"a":2})",
      // A comment that ends in a blank at the end of its line is not kept,
      // so it cannot swallow the member after it.
      "{\"a\":1// x \n,\"b\":2}",
      "/* c */ [1, /* d */ 2, {\"e\" : // f\n 3}] // g",
      // 淺 (9C 5C) in a key and a value: JSON escapes its 0x5C like any other.
      "{\"k\":\"\x9c\\\\\",\"\x9c\\\\\":\"\\\\\"}",
      "\"\\u00e9\\u0000\\u001f\"", "-0", "0.1", "1.5e300", "-1.7976931348623157e308", "4.9e-324",
      "18446744073709551615", "-9223372036854775808", "2147483648", "[[],{},null,true]",
  };
  for (const std::string& text : texts) {
    const Json::Value once = Parse(text);
    const std::string written = rt::StyledText(once);
    Json::Value again;
    ASSERT_TRUE(rt::ParseJson(written, again)) << text << "\n" << written;
    EXPECT_EQ(again, once) << text << "\n" << written;
    EXPECT_EQ(rt::StyledText(again), written) << text;
  }
  const Json::Value named = Parse(R"({"a\u0000b":1,"a":2})");
  EXPECT_EQ(named.size(), 2u);
  EXPECT_EQ(Parse(rt::StyledText(named))[std::string("a\0b", 3)], Json::Value(1));
  EXPECT_EQ(Parse("{\"a\":1// x \n,\"b\":2}")["b"], Json::Value(2));
}

TEST(JsonUtil, TextsTheReaderThrowsOnAreRefusedLikeOtherBadTexts) {
  Json::Value out(7);
  EXPECT_FALSE(rt::ParseJson(std::string(5000, '['), out));
  EXPECT_FALSE(rt::ParseJson("{\"a\":" + std::string(5000, '{'), out));
  EXPECT_EQ(out, Json::Value(7)) << "the output is left alone";
  EXPECT_TRUE(rt::ParseJson(std::string(100, '[') + std::string(100, ']'), out));
}

// Servers' JSON writers often escape every non-ASCII character; such text
// reads as the same code page 936 text as when it is sent raw.
TEST(JsonUtil, UnicodeEscapesReadAsCodePage936Text) {
  const Json::Value v = Parse(
      R"({"\u540d":"\u901a\u77e5", "bs":"\u6dfa", "mixed":"a\u00e9\u0041\\u901a",)"
      R"( "none":"\u00c0\ud83d\ude00\udc00\ud800\u0041", /* "\u901a */ "raw":"通知"} // \u901a ")");
  EXPECT_EQ(v["名"].asString(), "通知");
  EXPECT_EQ(v["raw"].asString(), "通知");
  EXPECT_EQ(v["bs"].asString(), "淺") << "the second byte 0x5C stays part of the character";
  // é has a code page 936 form; "\\u901a" is an escaped backslash and text.
  EXPECT_EQ(v["mixed"].asString(), "a\xa8\xa6" "A\\u901a");
  // No code page 936 form (and no look-alike: À is not "A"), a character
  // beyond U+FFFF, an unpaired low surrogate, a high one with a wrong partner.
  EXPECT_EQ(v["none"].asString(), "????");
  // What our writer writes never holds such escapes: it reads back as it was.
  EXPECT_EQ(Parse(rt::StyledText(v)), v);

  // A JSON text inside a string, in escapes: the inner text holds 淺 with its
  // second byte unescaped, as a Unicode writer's text converted to code page
  // 936 does; it reads too.
  const Json::Value outer = Parse(R"({"params":"{\"server\":\"\u670d\u6dfa\"}"})");
  EXPECT_EQ(Parse(outer["params"].asString())["server"].asString(), "服淺");
  EXPECT_EQ(Parse("{\"a\":\"淺\",\"b\":[\"淺x\"]}")["b"][0].asString(), "淺x");

  Json::Value untouched(7);
  EXPECT_FALSE(rt::ParseJson(R"({"a":"\ud800"})", untouched)) << "a lone high surrogate stays refused";
  EXPECT_FALSE(rt::ParseJson(R"({"a":"\u90"})", untouched));
  EXPECT_EQ(untouched, Json::Value(7));
}
