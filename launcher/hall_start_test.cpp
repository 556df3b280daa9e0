#include "hall_start.h"

#include <gtest/gtest.h>

#include "json_util.h"
#include "param_envelope.h"

namespace {

Json::Value Parse(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(rt::ParseJson(text, v)) << text;
  return v;
}

// Configuration data whose "info" carries `params` (absent when null).
Json::Value Config(const char* file, const char* params) {
  Json::Value data(Json::objectValue);
  Json::Value info(Json::objectValue);
  info["version"] = 3;
  if (file) info["file"] = file;
  if (params) info["params"] = params;
  data["info"] = info;
  return data;
}

const int64_t kNow = 0x1'2345'6789LL;  // past 2038: the low 32 bits, signed
const int32_t kStamp = 0x23456789;

}  // namespace

TEST(HallStart, ParametersCompletedWrappedOrPassedOn) {
  const std::string inner = ParamEnvelope::Wrap(R"({"server":"s1"})");
  struct Case {
    Json::Value data;
    std::string startParams;
    bool completed;      // plaza and stamp added
    bool enveloped;      // the result is an envelope
    std::string same;    // otherwise: passed on as this
  } cases[] = {
      {Json::Value(), "", true, true, ""},                           // no configuration
      {Parse(R"({"platform":{}})"), "SPTEXT", true, true, ""},      // no "info"
      {Config("Hall.exe", R"({"server":"s1"})"), "", true, false, ""},
      {Config("Hall.exe", inner.c_str()), "SPTEXT", true, true, ""},
      {Config("Hall.exe", "{}"), "SPTEXT", false, false, "{}"},
      {Config("Hall.exe", "-plain command text"), "", false, false, "-plain command text"},
      {Config("Hall.exe", "[1,2]"), "", false, false, "[1,2]"},
      // Envelopes of a non-object and of an empty text (one zero byte).
      {Config("Hall.exe", ParamEnvelope::Wrap("[1]").c_str()), "", false, false, ParamEnvelope::Wrap("[1]")},
      {Config("Hall.exe", "MD0000633600"), "SPTEXT", false, false, "MD0000633600"},
      {Parse(R"({"info":"not an object"})"), "", true, true, ""},
      {Parse(R"({"info":{"params":7}})"), "", true, true, ""},      // not a string: none
  };
  for (const Case& c : cases) {
    const HallStart start = BuildHallStart(c.data, "QZ_Orlune_U7", kNow, c.startParams);
    SCOPED_TRACE(rt::StyledText(c.data));
    if (!c.completed) {
      EXPECT_EQ(start.params, c.same);
      continue;
    }
    ParamEnvelope envelope;
    EXPECT_EQ(envelope.Decode(start.params), c.enveloped);
    const Json::Value object = Parse(c.enveloped ? envelope.Payload() : start.params);
    EXPECT_EQ(object["plaza"].asString(), "QZ_Orlune_U7");
    EXPECT_EQ(object["stamp"].asInt(), kStamp);
    EXPECT_EQ(object.isMember("params"), !c.startParams.empty());
    if (!c.startParams.empty()) {
      EXPECT_EQ(object["params"].asString(), c.startParams);
    }
  }
}

TEST(HallStart, ConfiguredMembersStayAndStartParametersReplaceTheirs) {
  const HallStart start =
      BuildHallStart(Config("大厅淺.exe", R"({"server":"s1","params":"old","plaza":"x"})"), "QZ_Orlune_U1",
                     kNow, ParamEnvelope::Wrap("{\"user\":\"登录\"}"));
  EXPECT_EQ(start.file, "大厅淺.exe");
  const Json::Value object = Parse(start.params);
  EXPECT_EQ(object["server"].asString(), "s1");
  EXPECT_EQ(object["plaza"].asString(), "QZ_Orlune_U1");
  // The URL handler's enveloped text arrives unchanged.
  EXPECT_EQ(object["params"].asString(), ParamEnvelope::Wrap("{\"user\":\"登录\"}"));
  EXPECT_EQ(BuildHallStart(Config(nullptr, nullptr), "c", 0, "").file, "");
}

TEST(HallStart, TheRequestStartsWithoutAWait) {
  const Json::Value request = HallStartRequest("Orlune.exe", "P");
  const std::string text = rt::StyledText(request);
  EXPECT_NE(text.find("\"wait\" : 4294967295"), std::string::npos) << text;
  const Json::Value read = Parse(text);
  int32_t wait = 0;
  EXPECT_FALSE(rt::ReadInt(read, "wait", wait));  // not a signed 32-bit integer
  EXPECT_FALSE(read["type"].asBool());
  EXPECT_EQ(read["then"]["op"].asString(), "CheckPlazzProcess");
  EXPECT_EQ(read["name"].asString(), "Orlune.exe");
  EXPECT_EQ(read["params"].asString(), "P");
}
