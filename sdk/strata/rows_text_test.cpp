#include "rows_text.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cmath>
#include <limits>

namespace strata {
namespace {

Json::Value Parse(const std::string& text) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << text;
  return value;
}

TEST(RowsText, NoRowsIsAnEmptyArray) {
  RowsText rows;
  EXPECT_EQ(rows.Take(), "[]");
}

TEST(RowsText, RowsReadBackWithTheirTypes) {
  RowsText rows;
  rows.BeginRow();
  rows.AddText("name", "CFG_DID", 7);
  rows.AddInteger("big", -9000000000LL);
  rows.AddReal("real", 2.0);
  rows.AddReal("nan", std::nan(""));
  rows.AddNull("none");
  rows.EndRow();
  rows.BeginRow();
  rows.AddText("name", "", 0);
  rows.EndRow();
  EXPECT_EQ(rows.RowCount(), 2u);
  const Json::Value data = Parse(rows.Take());
  ASSERT_TRUE(data.isArray());
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0]["name"].asString(), "CFG_DID");
  EXPECT_TRUE(data[0]["big"].isInt64());
  EXPECT_EQ(data[0]["big"].asInt64(), -9000000000LL);
  // A real stays a real (jsoncpp's isInt would also hold for 2.0).
  EXPECT_EQ(data[0]["real"].type(), Json::realValue);
  EXPECT_EQ(data[0]["big"].type(), Json::intValue);
  EXPECT_TRUE(data[0]["nan"].isNull());
  EXPECT_TRUE(data[0].isMember("none"));
  EXPECT_TRUE(data[0]["none"].isNull());
  EXPECT_TRUE(data[1]["name"].isString());
  EXPECT_EQ(data[1]["name"].asString(), "");
  // The builder starts afresh after Take.
  EXPECT_EQ(rows.Take(), "[]");
}

TEST(RowsText, TextBytesSurviveTheRoundTrip) {
  // Quotes, backslashes, control characters, an embedded zero byte and code
  // page 936 bytes (raw, never \u escapes that a reader would turn into UTF-8).
  const std::string text("a\"b\\c\r\n\t\x01 \xc8\xd5\xd6\xbe\xd5\x5c", 19);
  const std::string withZero = std::string("x\0y", 3);
  RowsText rows;
  rows.BeginRow();
  rows.AddText("v", text.data(), text.size());
  rows.AddText("z", withZero.data(), withZero.size());
  rows.EndRow();
  const std::string json = rows.Take();
  EXPECT_NE(json.find("\xc8\xd5\xd6\xbe"), std::string::npos);
  const Json::Value data = Parse(json);
  EXPECT_EQ(data[0]["v"].asString(), text);
  EXPECT_EQ(data[0]["z"].asString(), withZero);
}

}  // namespace
}  // namespace strata
