// The engine's host and the Lua bridge, in process with our engine and a skin
// package the tests write themselves.
#include "bolt_host.h"

#include <gtest/gtest.h>

#include "json_util.h"
#include "launcher_app.h"
#include "lua_bridge.h"
#include "param_envelope.h"
#include "test_support.h"
#include "text_codec.h"
#include "ui_test_support.h"

using testing_support::LogDuring;

namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A skin whose "ToLua" hands every event back to the host as a "Probe" call
// and answers by the event's name.
const char kEchoSkin[] = R"(
local function quoted(s)
  s = s:gsub('\\', '\\\\'):gsub('"', '\\"'):gsub('\n', '\\n'):gsub('\r', '\\r')
  return '"' .. s .. '"'
end
Orlune.LuaChunkReg:RegChunk("ToLua", function(call)
  Lumo.App:JOP('{"op":"Probe","event":"' .. call.name .. '","text":' .. quoted(call.data) .. '}')
  if call.name == "Unknown" then return 0 end
  if call.name == "Fail" then return -1 end
  if call.name == "Nothing" then return end
  if call.name == "Boom" then error("boom in ToLua") end
  return 1
end)
)";

class EngineHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LauncherApp::Get();
    ui_test::Probe({"Probe"});
    const std::string pkg = skins_.Path() + "\\皮肤淺";
    ASSERT_TRUE(ui_test::WriteText(pkg + "\\EchoSkin\\onload.lua", kEchoSkin));
    ASSERT_TRUE(ui_test::WriteText(pkg + "\\BrokenSkin\\onload.lua", "error('broken skin')\n"));
    ASSERT_TRUE(ui_test::WriteText(
        pkg + "\\SecondSkin\\onload.lua",
        "Orlune.LuaChunkReg:RegChunk('ToLua', function(call) "
        "Lumo.App:JOP('{\"op\":\"Probe\",\"second\":true}') return 1 end)\n"));
    ASSERT_TRUE(ui_test::WriteText(
        pkg + "\\ChineseJop\\onload.lua",
        "Lumo.App:JOP('{\"op\":\"Probe\",\"text\":\"" + AnsiToUtf8("中文淺運") +
            "\",\"dir\":\"' .. Lumo.App:GetWorkDirectory():gsub('\\\\', '\\\\\\\\') .. '\"}')\n"));
    packages_ = pkg;
  }

  void SetUp() override {
    ui_test::Probe({"Probe"});
    BoltInitOperation("BOLT_Init", Call(R"({"op":"BOLT_Init"})"));
    ASSERT_TRUE(BoltHost::EngineInitialised());
    ASSERT_EQ(XLUE_AddXARSearchPath(AnsiToWide(packages_).c_str()), 0);
  }
  void TearDown() override { BoltUninitOperation("BOLT_Uninit", Json::Value()); }

  static Json::Value Call(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(rt::ParseJson(text, v)) << text;
    return v;
  }
  static void ToLua(const std::string& text) { ToLuaOperation("To_Lua", Call(text)); }

  static testing_support::TempDir skins_;
  static std::string packages_;
};

testing_support::TempDir EngineHost::skins_;
std::string EngineHost::packages_;

}  // namespace

TEST_F(EngineHost, InitIsLoggedOnceAndAlwaysPostsItsContinuation) {
  BoltUninitOperation("BOLT_Uninit", Json::Value());
  const std::string first = LogDuring([] {
    BoltInitOperation("BOLT_Init", Call(R"({"op":"BOLT_Init","code":3,"then":{"op":"Probe","n":1}})"));
  });
  EXPECT_TRUE(Has(first, "BOLT初始化[成功] Lualib:3")) << first;
  const std::string path = XarSearchPath(LauncherApp::Get().exeDir);
  EXPECT_EQ(path.back(), '\\');
  EXPECT_TRUE(Has(first, "设置XAR包搜索路径(" + path + ")[成功]")) << first;
  const std::string second = LogDuring([] {
    BoltInitOperation("BOLT_Init", Call(R"({"op":"BOLT_Init","then":{"op":"Probe","n":2}})"));
  });
  EXPECT_EQ(second, "");
  const std::vector<Json::Value> caught = ui_test::Caught();
  ASSERT_EQ(caught.size(), 2u);
  EXPECT_EQ(caught[0]["n"].asInt(), 1);
  EXPECT_EQ(caught[1]["n"].asInt(), 2);
  EXPECT_FALSE(caught[0].isMember("result"));
}

TEST_F(EngineHost, LoadingPackagesGivesErrorCodesToTheContinuation) {
  struct Case {
    const char* call;
    int error;
    const char* logged;
  } cases[] = {
      {R"({"op":"BOLT_LoadXAR","name":"Lumora1.0.0","then":{"op":"Probe"}})", 0,
       "BOLT 成功加载XAR包[Lumora1.0.0]"},
      {R"({"op":"BOLT_LoadXAR","name":"EchoSkin","then":{"op":"Probe"}})", 0,
       "BOLT 成功加载XAR包[EchoSkin]"},
      {R"({"op":"BOLT_LoadXAR","name":"NoSuchSkin","then":{"op":"Probe"}})", 2,
       "BOLT XAR包加载错误!无效的XAR包名或不存在[NoSuchSkin]"},
      {R"({"op":"BOLT_LoadXAR","name":"BrokenSkin","then":{"op":"Probe"}})", 1006,
       "BOLT XAR包加载错误![BrokenSkin]."},
      {R"({"op":"BOLT_LoadXAR","then":{"op":"Probe"}})", 4306, ""},
      {R"({"op":"BOLT_LoadXAR","name":7,"then":{"op":"Probe"}})", 4306, ""},
  };
  for (const Case& c : cases) {
    const std::string log = LogDuring([&] { BoltLoadXarOperation("BOLT_LoadXAR", Call(c.call)); });
    if (*c.logged)
      EXPECT_TRUE(Has(log, c.logged)) << log;
    else
      EXPECT_EQ(log, "") << c.call;
    const std::vector<Json::Value> caught = ui_test::Caught();
    ASSERT_EQ(caught.size(), 1u) << c.call;
    EXPECT_EQ(caught[0]["result"]["error"].asInt(), c.error) << c.call;
    EXPECT_EQ(caught[0]["result"]["status"].asBool(), c.error == 0) << c.call;
  }
  // The broken package's error is reported with its traceback, without extra
  // information (no call context).
  const std::string log = LogDuring([] { LoadXar("BrokenSkin"); });
  EXPECT_TRUE(Has(log, "【LUA错误】\r\n")) << log;
  EXPECT_TRUE(Has(log, "broken skin")) << log;
  EXPECT_FALSE(Has(log, " @ ")) << log;
}

TEST_F(EngineHost, ToLuaHandsNameAndDataAndReadsTheAnswer) {
  ASSERT_EQ(LoadXar("EchoSkin"), 0);
  ui_test::Caught();
  struct Case {
    std::string call;
    std::string event;      // "" when Lua must not be called
    std::string data;       // the data text Lua gets (trimmed)
    const char* logged;     // "" when nothing is logged
  } cases[] = {
      {R"({"op":"To_Lua","name":"TopWindow"})", "TopWindow", "null", ""},
      {R"({"op":"To_Lua","name":"TopWindow","data":{"data":true}})", "TopWindow",
       "{\n   \"data\" : true\n}", ""},
      {R"({"op":"To_Lua","name":"OnURLDownload","data":")" +
           ParamEnvelope::Wrap(R"({"id":3,"load":5})") + R"("})",
       "OnURLDownload", "{\n   \"id\" : 3,\n   \"load\" : 5\n}", ""},
      // An explicit null counts as an object, as an absent "data" does,
      // and so does an envelope whose payload is null.
      {R"({"op":"To_Lua","name":"TopWindow","data":null})", "TopWindow", "null", ""},
      {R"({"op":"To_Lua","name":"HideWindow","data":")" + ParamEnvelope::Wrap("null") + R"("})",
       "HideWindow", "null", ""},
      {R"({"op":"To_Lua","name":"X","data":5})", "", "",
       "ToLua 参数不正确! Lua接口名为空或数据格式非法('data'属性必须是Object).\r\nName:'X' Data:5"},
      {R"({"op":"To_Lua","name":"X","data":[1,2]})", "", "",
       "ToLua 参数不正确! Lua接口名为空或数据格式非法('data'属性必须是Object).\r\nName:'X' Data:[ 1, 2 ]"},
      {R"({"op":"To_Lua","name":"X","data":"plain text"})", "", "", "ToLua 参数不正确!"},
      {R"({"op":"To_Lua","data":{}})", "", "", "Name:'' Data:{}"},
      {R"({"op":"To_Lua","name":"Unknown","data":{}})", "Unknown", "{}",
       "ToLua 未实现Lua接口'Unknown'"},
      {R"({"op":"To_Lua","name":"Nothing"})", "Nothing", "null", "ToLua 未实现Lua接口'Nothing'"},
      {R"({"op":"To_Lua","name":"Fail","data":{"a":1}})", "Fail", "{\n   \"a\" : 1\n}",
       "ToLua 执行Lua接口'Fail'错误 Data:{\n   \"a\" : 1\n}"},
  };
  for (const Case& c : cases) {
    const std::string log = LogDuring([&] { ToLua(c.call); });
    if (*c.logged)
      EXPECT_TRUE(Has(log, c.logged)) << c.call << "\n" << log;
    else
      EXPECT_EQ(log, "") << c.call;
    const std::vector<Json::Value> caught = ui_test::Caught();
    if (c.event.empty()) {
      EXPECT_TRUE(caught.empty()) << c.call;
      continue;
    }
    ASSERT_EQ(caught.size(), 1u) << c.call;
    EXPECT_EQ(caught[0]["event"].asString(), c.event);
    std::string data = caught[0]["text"].asString();
    while (!data.empty() && (data.back() == '\n' || data.back() == '\r')) data.pop_back();
    EXPECT_EQ(data, c.data) << c.call;
  }
}

TEST_F(EngineHost, LuaErrorsAreLoggedWithTheirContextAndTheLauncherGoesOn) {
  ASSERT_EQ(LoadXar("EchoSkin"), 0);
  const std::string log = LogDuring([] { ToLua(R"({"op":"To_Lua","name":"Boom"})"); });
  EXPECT_TRUE(Has(log, "【LUA错误】\r\n")) << log;
  EXPECT_TRUE(Has(log, "boom in ToLua")) << log;
  EXPECT_TRUE(Has(log, " @ CPP To Lua")) << log;
  EXPECT_TRUE(Has(log, "ToLua 未实现Lua接口'Boom'")) << "a failed call answers nothing";
  // The state is sound afterwards: the next event is handled.
  ui_test::Caught();
  EXPECT_EQ(LogDuring([] { ToLua(R"({"op":"To_Lua","name":"TopWindow"})"); }), "");
  EXPECT_EQ(ui_test::Caught().size(), 1u);

  EXPECT_TRUE(Has(LogDuring([] { LuaErrorHandler(nullptr, nullptr, L"plain", nullptr); }),
                  "【LUA错误】\r\nplain\r\n"));
  EXPECT_TRUE(Has(LogDuring([] { LuaErrorHandler(nullptr, L"where", L"what", nullptr); }),
                  "【LUA错误】\r\nwhat @ where\r\n"));
}

TEST_F(EngineHost, RegisteringToLuaAgainReplacesTheFirst) {
  ASSERT_EQ(LoadXar("EchoSkin"), 0);
  ASSERT_EQ(LoadXar("SecondSkin"), 0);
  ui_test::Caught();
  ToLua(R"({"op":"To_Lua","name":"TopWindow"})");
  const std::vector<Json::Value> caught = ui_test::Caught();
  ASSERT_EQ(caught.size(), 1u);
  EXPECT_TRUE(caught[0]["second"].asBool());
}

TEST_F(EngineHost, JopPostsTheScriptsTextInTheSystemCodePage) {
  ASSERT_EQ(LoadXar("ChineseJop"), 0);
  const std::vector<Json::Value> caught = ui_test::Caught();
  ASSERT_EQ(caught.size(), 1u);
  EXPECT_EQ(caught[0]["text"].asString(), "中文淺運");
  EXPECT_EQ(caught[0]["dir"].asString(), LauncherApp::Get().exeDir);
}

TEST_F(EngineHost, UninitTwiceAndEventsAfterwards) {
  BoltUninitOperation("BOLT_Uninit", Json::Value());
  EXPECT_FALSE(BoltHost::EngineInitialised());
  // A second end has nothing to end: it neither fails nor says anything.
  EXPECT_EQ(LogDuring([] { BoltUninitOperation("BOLT_Uninit", Json::Value()); }), "");
  EXPECT_TRUE(Has(LogDuring([] { ToLua(R"({"op":"To_Lua","name":"TopWindow"})"); }),
                  "Lua运行时未初始化"));
  // And the engine starts again in the same process.
  BoltInitOperation("BOLT_Init", Call(R"({"op":"BOLT_Init"})"));
  EXPECT_TRUE(BoltHost::EngineInitialised());
  EXPECT_TRUE(Has(LogDuring([] { ToLua(R"({"op":"To_Lua","name":"TopWindow"})"); }),
                  "Lua接口'ToLua'无效!"))
      << "no skin registered since the restart";
}
