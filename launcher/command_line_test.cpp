#include "command_line.h"

#include <gtest/gtest.h>

#include "json_util.h"
#include "param_envelope.h"

namespace {

Json::Value Stored(const char* text) {
  Json::Value v;
  EXPECT_TRUE(rt::ParseJson(text, v)) << text;
  return v;
}

}  // namespace

TEST(LauncherCommandLine, KeysTypesAndDefaults) {
  struct Case {
    const char* text;
    int32_t unionCode;
    uint32_t signs;
    int32_t debugCode;
    bool unread = false;  // the start says that the text was not read
  } cases[] = {
      {"", 1, 0x01, 0},                                      // no command line
      {" \t", 1, 0x01, 0},
      {"not json at all", 1, 0x01, 0, true},                 // ignored, and said so
      {"[1,2]", 1, 0x01, 0, true},                           // not an object
      {"null", 1, 0x01, 0, true},
      {R"({"UC":0})", 0, 0x01, 0},                           // start-up must fail
      {R"({"UC":"7"})", 1, 0x01, 0},                         // a string is not an integer
      {R"({"UC":5,"UnionCode":9})", 5, 0x01, 0},             // short key first
      {R"({"UC":"x","UnionCode":9})", 9, 0x01, 0},           // long key when short is wrong
      {R"({"UC":2.5,"UnionCode":3})", 3, 0x01, 0},           // a real is not an integer
      {R"({"UC":4294967295})", 1, 0x01, 0},                  // beyond 32 bits signed
      {R"({"UC":-4})", -4, 0x01, 0},
      {R"({"SU":true,"SR":false})", 1, 0x05, 0},             // signs only gain bits
      {R"({"SI":true,"SB":true})", 1, 0x13, 0},
      {R"({"DG":true,"DC":5})", 1, 0x09, 5},
      {R"({"DebugConfig":true,"DebugCode":7})", 1, 0x09, 7},
      {R"({"DG":1,"DebugConfig":true})", 1, 0x09, 0},        // a number is not a boolean
      {R"({"SignInstall":"true"})", 1, 0x01, 0},
      {R"({"DC":"5","DebugCode":6})", 1, 0x01, 6},
      {R"(  {"UC":8} trailing text)", 8, 0x01, 0},           // the reader stops after the value
  };
  for (const Case& c : cases) {
    const LauncherSettings s = ParseLauncherCommandLine(c.text, Json::Value());
    EXPECT_EQ(s.unionCode, c.unionCode) << c.text;
    EXPECT_EQ(s.signs, c.signs) << c.text;
    EXPECT_EQ(s.debugCode, c.debugCode) << c.text;
    EXPECT_EQ(s.unread, c.unread) << c.text;
  }
}

TEST(LauncherCommandLine, TextsFlagsAndTheObjectKeptForARestart) {
  // Written by the JSON writer: a double-byte character whose second byte is
  // a backslash byte travels escaped, as every peer writes it.
  Json::Value args(Json::objectValue);
  args["SP"] = "MD123";
  args["StartParams"] = "other";
  args["TargetPath"] = "C:\\游戏淺\\x.exe";
  args["SR"] = false;
  args["x"].append(1);
  const LauncherSettings s = ParseLauncherCommandLine(rt::StyledText(args), Json::Value());
  EXPECT_EQ(s.startParams, "MD123");
  EXPECT_EQ(s.targetPath, "C:\\游戏淺\\x.exe");
  EXPECT_FALSE(s.signRun);
  EXPECT_TRUE(s.HasSigns(kSignRun));
  Json::Value kept;
  ASSERT_TRUE(rt::ParseJson(s.paramsText, kept));
  EXPECT_EQ(kept["SP"].asString(), "MD123");
  EXPECT_EQ(kept["x"][0].asInt(), 1);
  EXPECT_NE(s.paramsText.find('\n'), std::string::npos);  // the styled, multi-line form

  EXPECT_TRUE(ParseLauncherCommandLine("", Json::Value()).paramsText.empty());
}

TEST(LauncherCommandLine, EnvelopedTextAndADamagedEnvelope) {
  const std::string envelope = ParamEnvelope::Wrap(R"({"UC":12,"SP":"登录"})");
  const LauncherSettings s = ParseLauncherCommandLine(envelope, Json::Value());
  EXPECT_EQ(s.unionCode, 12);
  EXPECT_EQ(s.startParams, "登录");

  // A wrong check number: read as plain text, which is no JSON: defaults.
  std::string damaged = envelope;
  damaged[2] = damaged[2] == '9' ? '8' : '9';
  const LauncherSettings d = ParseLauncherCommandLine(damaged, Json::Value());
  EXPECT_EQ(d.unionCode, 1);
  EXPECT_TRUE(d.paramsText.empty());
  EXPECT_TRUE(d.unread);
  EXPECT_FALSE(s.unread);
}

TEST(LauncherCommandLine, StoredUnionCodeUnlessTheCommandLineGivesOne) {
  struct Case {
    const char* stored;
    const char* text;
    int32_t unionCode;
  } cases[] = {
      {R"({"UnionCode":7})", "", 7},
      {R"({"UnionCode":7})", R"({"UC":3})", 3},
      {R"({"UnionCode":7})", R"({"UC":0})", 0},
      {R"({"UnionCode":0})", "", 1},
      {R"({"UnionCode":"7"})", "", 1},
      {R"({"version":3})", "", 1},
      {"[7]", "", 1},
      {"null", "", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseLauncherCommandLine(c.text, Stored(c.stored)).unionCode, c.unionCode)
        << c.stored << " / " << c.text;
}
