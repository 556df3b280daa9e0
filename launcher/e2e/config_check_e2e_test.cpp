// The configuration check and the device identity, one real launcher start per
// case against the operator's endpoints on loopback.
#include <gtest/gtest.h>


#include "json_util.h"
#include "launcher_folder.h"
#include "param_envelope.h"
#include "test_support.h"

namespace e2e {
namespace {

using testing_support::EnvelopeBytes;
using testing_support::InflateRaw;

const std::string kTail = "\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)";

std::string Fatal(const std::string& firstLine) { return firstLine + kTail; }

std::string Unwrapped(const std::string& text) { return ParamEnvelope::Unwrap(text); }

class ConfigCheck : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(op.Start()); }
  Operator op;
};

// --- the failure table ---------------------------------------------------------

TEST_F(ConfigCheck, RepliesThatEndTheStart) {
  struct Case {
    std::string reply;      // the configuration reply's body (404 when "404")
    std::string shown;      // the dialog's first line
    std::string logged;     // a line the log must hold
  } cases[] = {
      {"garbage", "CheckConfig 无效的数据!", "CheckConfig 无效的数据:garbage"},
      {"[1,2]", "CheckConfig 无效的数据!", "CheckConfig 配置数据加载地址:\"http://127.0.0.1:18090/starterUpdate.do?v=2014040401&did=MD"},
      {"{}", "CheckConfig 无效的数据!", "CheckConfig 无效的数据:{}"},
      {"404", "CheckConfig 无效的数据!", "CheckConfig 无效的数据:\n\r\n"},
      {R"({"code":1,"version":3})", "网络断开或配置信息错误.",
       "错误的配置信息 url:'' data:'{\"code\":1,\"version\":3}'"},
      {R"({"code":1,"version":0,"url":"http://127.0.0.1:18090/config.json"})",
       "网络断开或配置信息错误.", "错误的配置信息 url:'http://127.0.0.1:18090/config.json'"},
      {R"({"code":"1","version":3,"url":"u"})", "网络断开或配置信息错误.", "错误的配置信息"},
      {R"({"code":1,"version":3.5,"url":"u"})", "网络断开或配置信息错误.", "错误的配置信息"},
      {R"({"code":1,"version":4294967296,"url":"u"})", "网络断开或配置信息错误.",
       "错误的配置信息"},
      {R"({"code":1,"version":3,"url":["u"]})", "网络断开或配置信息错误.", "错误的配置信息"},
      {R"({"code":3,"version":1,"url":"u"})", "配置信息错误!", "CheckConfig 未知操作代码:3"},
      {R"({"code":2,"version":5,"url":"u","type":3})", "更新失败,检查网络或重新安装.",
       "当前[启动器]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    if (c.reply == "404")
      op.Config().Route("/starterUpdate.do", StatusReply(404));
    else
      op.ReplyWith(c.reply);
    LauncherFolder folder;
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal(c.shown));
    const std::string log = folder.Log();
    if (c.logged == "当前[启动器]")
      EXPECT_FALSE(Has(log, c.logged)) << log;  // a bad type is refused before anything
    else
      EXPECT_TRUE(Has(log, c.logged)) << log;
    EXPECT_TRUE(Has(log, Fatal(c.shown))) << "the message is logged too";
    EXPECT_TRUE(folder.Record("CFG_ConfigData").isNull()) << "nothing is stored";
  }
}

TEST_F(ConfigCheck, ConfigurationDataThatIsNotANonEmptyObject) {
  for (const char* data : {"[]", "{}", "not json", "[{\"info\":{}}]", "7"}) {
    SCOPED_TRACE(data);
    op.ReplyWith(op.ConfigReply(4));
    op.ServeConfigData(data);
    LauncherFolder folder;
    folder.SetRecord("CFG_ConfigData", R"({"info":{"version":1,"keep":"me"}})");
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal("配置信息错误."));
    // The stored data stays as it was.
    EXPECT_EQ(folder.Record("CFG_ConfigData")["info"]["keep"].asString(), "me");
    EXPECT_TRUE(folder.Record("CFG_ConfigInfo").isNull());
  }
}

// --- the reply's code 1 ----------------------------------------------------------

TEST_F(ConfigCheck, StoredVersionDecidesWhetherTheDataIsLoadedAgain) {
  struct Case {
    const char* args;
    const char* storedInfo;
    bool loads;
  } cases[] = {
      {"", R"({"version":9,"UnionCode":1,"DebugCode":0})", false},  // current
      {"", R"({"version":8,"UnionCode":1,"DebugCode":0})", true},   // older
      {"", R"({"version":10,"UnionCode":1,"DebugCode":0})", true},  // differs: loaded too
      {"{\"UC\":2}", R"({"version":9,"UnionCode":1,"DebugCode":0})", true},
      {"{\"DC\":3}", R"({"version":9,"UnionCode":1,"DebugCode":0})", true},
      {"{\"SI\":true}", R"({"version":9,"UnionCode":1,"DebugCode":0})", true},
      {"", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.args) + " / " + (c.storedInfo ? c.storedInfo : "none"));
    op.ReplyWith(op.ConfigReply(9));
    // Configuration data without a hall: the start then ends at the hall check.
    op.ServeConfigData(R"({"platform":{"version":0}})");
    LauncherFolder folder;
    if (c.storedInfo) folder.SetRecord("CFG_ConfigInfo", c.storedInfo);
    const size_t before = op.Config().Requests("/config.json").size();
    const LauncherRun run = folder.RunLauncher(c.args);
    const std::string log = folder.Log();
    EXPECT_EQ(op.Config().Requests("/config.json").size() - before, c.loads ? 1u : 0u);
    if (std::string(c.args) == "{\"SI\":true}")
      EXPECT_FALSE(Has(log, "当前[配置]版本")) << log;
    else
      EXPECT_TRUE(Has(log, c.storedInfo ? "当前[配置]版本[" : "当前[配置]版本[0] 最新版本[9]"))
          << log;
    if (c.loads) {
      EXPECT_TRUE(Has(log, "更新[配置]到版本[9]")) << log;
      const Json::Value info = folder.Record("CFG_ConfigInfo");
      EXPECT_EQ(info["version"].asInt(), 9);
      EXPECT_EQ(folder.Record("CFG_ConfigData")["platform"]["version"].asInt(), 0);
    }
    // Then the platform check, and the hall check fails for want of a hall.
    EXPECT_TRUE(Has(log, "当前[平台资源]版本[0] 最新版本[0]")) << log;
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal("由于配置信息错误而无法更新[游戏大厅]."));
  }
}

TEST_F(ConfigCheck, LoadedInfoKeepsTheOtherMembers) {
  op.ReplyWith(op.ConfigReply(5));
  // Built by the writer: a character whose second byte is a backslash byte
  // travels escaped, as a JSON writer of the operator writes it.
  Json::Value data(Json::objectValue);
  data["platform"]["version"] = 0;
  data["extra"] = "淺";
  op.ServeConfigData(JsonText(data));
  LauncherFolder folder;
  folder.SetRecord("CFG_ConfigInfo", R"({"version":4,"UnionCode":1,"platformversion":3,"plazaversion":6})");
  folder.RunLauncher("{\"UC\":7,\"DC\":2}");
  const Json::Value info = folder.Record("CFG_ConfigInfo");
  EXPECT_EQ(info["version"].asInt(), 5);
  EXPECT_EQ(info["UnionCode"].asInt(), 7);
  EXPECT_EQ(info["DebugCode"].asInt(), 2);
  EXPECT_EQ(info["platformversion"].asInt(), 3);
  EXPECT_EQ(info["plazaversion"].asInt(), 6);
  EXPECT_EQ(folder.Record("CFG_ConfigData")["extra"].asString(), "淺");
}

TEST_F(ConfigCheck, DataThatDidNotLoadLeavesTheStoredConfigurationInUse) {
  op.ReplyWith(op.ConfigReply(6));
  op.Config().Route("/config.json", StatusReply(500));
  LauncherFolder folder;
  Json::Value stored(Json::objectValue);
  stored["info"]["version"] = 2;
  stored["info"]["file"] = "Missing淺.exe";
  folder.SetRecord("CFG_ConfigData", stored);
  folder.SetRecord("CFG_ConfigInfo", R"({"version":5,"plazaversion":2})");
  const LauncherRun run = folder.RunLauncher();
  const std::string log = folder.Log();
  EXPECT_FALSE(Has(log, "更新[配置]")) << log;
  EXPECT_TRUE(Has(log, "当前[大厅]版本[2] 最新版本[2]")) << log;
  EXPECT_TRUE(Has(log, "启动大厅 文件:'Missing淺.exe'")) << log;
  EXPECT_EQ(folder.Record("CFG_ConfigInfo")["version"].asInt(), 5);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], Fatal("[游戏大厅]启动失败!"));
}

TEST_F(ConfigCheck, TheReplysCallsAreQueuedBeforeTheCodeIsActedOn) {
  Json::Value reply = ParseJsonText(op.ConfigReply(3));
  reply["data"].append("{\"op\":\"MsgBox\",\"text\":\"来自服务器的消息\",\"name\":\"通知\"}");
  reply["data"].append(5);
  reply["data"].append(ParamEnvelope::Wrap("{\"op\":\"Quit\",\"code\":7}"));
  op.ReplyWith(JsonText(reply));
  op.ServeConfigData(R"({"platform":{"version":0}})");
  LauncherFolder folder;
  const LauncherRun run = folder.RunLauncher();
  EXPECT_EQ(run.exitCode, 7);
  ASSERT_GE(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], "来自服务器的消息");
  // "Quit" ran before the configuration data was loaded.
  EXPECT_FALSE(Has(folder.Log(), "更新[配置]")) << folder.Log();
}

// Configuration checks a reply asks for itself: without a request tag they are
// refused; with a tag that has nothing cached they read a reply given inline.
TEST_F(ConfigCheck, ChecksFromTheReplyNeedATagAndMayCarryTheirReplyInline) {
  struct Case {
    const char* call;
    std::string shown;
    const char* logged;
  } cases[] = {
      {R"({"op":"CheckConfig","url":"u"})", "CheckConfig 无效的Sign.", ""},
      {R"({"op":"CheckConfig","opsign":"5"})", "CheckConfig 无效的Sign.", ""},
      {R"({"op":"ConfigLoaded","opsign":0,"version":3})", "CheckConfig 无效的Sign.", ""},
      {R"({"op":"CheckConfig","opsign":987654,"data":{"code":3,"version":1,"url":"u"}})",
       "配置信息错误!", "CheckConfig 未知操作代码:3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Json::Value reply = ParseJsonText(op.ConfigReply(3));
    reply["data"].append(c.call);
    op.ReplyWith(JsonText(reply));
    op.ServeConfigData(R"({"platform":{"version":0}})");
    LauncherFolder folder;
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_GE(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal(c.shown));
    if (*c.logged) {
      EXPECT_TRUE(Has(folder.Log(), c.logged)) << folder.Log();
    }
  }
}

// Many servers' JSON writers escape every non-ASCII character: such a reply
// shows and starts the same Chinese text as a raw one.
TEST_F(ConfigCheck, RepliesWithUnicodeEscapesReadLikeRawText) {
  // A message from the reply: text and caption escaped (来自服务器的消息, 通知).
  op.ReplyWith(
      R"({"code":1,"version":3,"url":")" + op.Url("/config.json") +
      R"(","data":["{\"op\":\"MsgBox\",\"text\":\"\u6765\u81ea\u670d\u52a1\u5668\u7684\u6d88\u606f\",)"
      R"(\"name\":\"\u901a\u77e5\"}"]})");
  // The hall named and parameterised in escapes: 大厅淺.exe, server 服务器淺.
  op.ServeConfigData(
      R"({"info":{"version":5,"url":"u","file":"\u5927\u5385\u6dfa.exe",)"
      R"("params":"{\"server\":\"\u670d\u52a1\u5668\u6dfa\",\"lifetime\":4000}"}})");
  LauncherFolder folder;
  folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":5})");
  ASSERT_TRUE(folder.Add("Orlune.exe", "大厅淺.exe"));
  const LauncherRun run = folder.RunLauncher();
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], "来自服务器的消息");
  EXPECT_EQ(run.captions[0], "通知");
  EXPECT_TRUE(Has(folder.Log(), "启动大厅 文件:'大厅淺.exe'")) << folder.Log();
  ASSERT_TRUE(folder.WaitForHallRecord(15000));
  const Json::Value params = ParseJsonText(folder.HallRecord()["payload"].asString());
  EXPECT_EQ(params["server"].asString(), "服务器淺");
  EXPECT_EQ(params["plaza"].asString(), "QZ_Orlune_U1");
  EXPECT_EQ(folder.Record("CFG_ConfigData")["info"]["file"].asString(), "大厅淺.exe");
}

// --- giving way to a running hall ------------------------------------------------

TEST_F(ConfigCheck, ARunningHallIsShownInsteadOfLoadingOrUpdating) {
  struct Case {
    std::string reply;
    const char* args;
  } cases[] = {
      {op.ConfigReply(9), ""},                                             // new configuration
      {R"({"code":2,"type":1,"version":2015,"url":"http://127.0.0.1:18090/Lumora.pkg.exe"})", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    op.ReplyWith(c.reply);
    LauncherFolder folder;
    folder.Add("Orlune.exe");
    Process hall;
    ASSERT_TRUE(hall.Start("\"" + folder.File("Orlune.exe") + "\" " +
                               ParamEnvelope::Wrap("{\"plaza\":\"QZ_Orlune_U1\"}"),
                           folder.Path()));
    ASSERT_TRUE(folder.WaitForHallRecord(10000));
    for (int i = 0; i < 250 && !FindWindowA("QZ_Orlune_U1", nullptr); ++i) Sleep(20);
    const size_t before = op.Config().Requests().size();
    const LauncherRun run = folder.RunLauncher(c.args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.dialogs.empty());
    const DWORD start = GetTickCount();
    while (folder.HallRecord()["shown"].asInt() < 1 && GetTickCount() - start < 10000) Sleep(20);
    EXPECT_EQ(folder.HallRecord()["shown"].asInt(), 1);
    // Only the configuration request went out: no data, no package.
    EXPECT_EQ(op.Config().Requests().size() - before, 1u);
  }
}

// --- the launcher's own update in debug mode --------------------------------------

TEST_F(ConfigCheck, DebugModeAsksAgainClaimingTheNewestVersion) {
  op.ReplyWith([this](const endpoint::Request& request) {
    endpoint::Reply reply;
    if (request.params.at("v") == "2014040401")
      reply.body = R"({"code":2,"type":1,"version":2015060101,"url":"http://127.0.0.1:18090/Lumora.pkg.exe"})";
    else
      reply.body = "garbage";  // ends the start: enough for this test
    return reply;
  });
  LauncherFolder folder;
  const LauncherRun run = folder.RunLauncher("{\"DG\":true,\"DC\":5}");
  const std::vector<endpoint::Request> asked = op.Config().Requests("/starterUpdate.do");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].params.at("v"), "2014040401");
  EXPECT_EQ(asked[1].params.at("v"), "2015060101");
  EXPECT_EQ(asked[1].params.at("d"), "5");
  EXPECT_EQ(asked[1].params.at("did"), asked[0].params.at("did"));
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "当前[启动器]版本[2014040401] 最新版本[2015060101]")) << log;
  EXPECT_TRUE(Has(log, "使用当前版本[启动器]继续调试.")) << log;
  EXPECT_TRUE(op.Config().Requests("/Lumora.pkg.exe").empty());
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], Fatal("CheckConfig 无效的数据!"));
}

// --- device identity and statistics ------------------------------------------------

TEST_F(ConfigCheck, TheDeviceRegistersOnceAndEveryStartIsReported) {
  op.ReplyWith("garbage");
  LauncherFolder folder;
  folder.RunLauncher();
  const std::vector<endpoint::Request> registrations = op.Statistics().Requests("/plugins/did/reg");
  ASSERT_EQ(registrations.size(), 1u);
  const std::vector<endpoint::Request> runs = op.Statistics().Requests("/plugins/stat/run");
  ASSERT_EQ(runs.size(), 1u);
  const std::string did = runs[0].params.at("did");
  const std::string id = Unwrapped(did);
  ASSERT_EQ(id.size(), 32u) << did;
  EXPECT_EQ(op.Config().Requests("/starterUpdate.do").at(0).params.at("did"), did);

  // Registration text: no stored identity, 0x12, the identity, 0x12, the adapters.
  const std::string text = InflateRaw(EnvelopeBytes(registrations[0].params.at("v")));
  ASSERT_GE(text.size(), 34u) << text;
  EXPECT_EQ(text[0], '\x12');
  EXPECT_EQ(text.substr(1, 32), id);
  EXPECT_EQ(text[33], '\x12');
  const std::string adapters = text.substr(34);
  EXPECT_TRUE(adapters.empty() || adapters.back() == '\x08');
  EXPECT_EQ(folder.Record("CFG_DID")["id"].asString(), id);
  EXPECT_EQ(runs[0].params.at("v"), "2014040401");
  EXPECT_EQ(runs[0].params.at("u"), "1");
  EXPECT_EQ(runs[0].params.at("d"), "0");
  EXPECT_EQ(runs[0].params.at("r"), "1");
  EXPECT_EQ(runs[0].params.at("cv"), "0");

  // The same adapters next time: no registration, the record unchanged.
  folder.RunLauncher("{\"DG\":true,\"DC\":5,\"UC\":3}");
  EXPECT_EQ(op.Statistics().Requests("/plugins/did/reg").size(), 1u);
  const std::vector<endpoint::Request> again = op.Statistics().Requests("/plugins/stat/run");
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].params.at("did"), did);
  EXPECT_EQ(again[1].params.at("d"), "65541");
  EXPECT_EQ(again[1].params.at("r"), "9");
  EXPECT_EQ(again[1].params.at("u"), "3");
}

TEST_F(ConfigCheck, AChangedIdentityRegistersWithTheStoredOne) {
  op.ReplyWith("garbage");
  LauncherFolder folder;
  folder.SetRecord("CFG_DID", R"({"id":"0123456789abcdef0123456789abcdef"})");
  folder.SetRecord("CFG_ConfigInfo", R"({"version":12})");
  folder.RunLauncher();
  const auto registrations = op.Statistics().Requests("/plugins/did/reg");
  ASSERT_EQ(registrations.size(), 1u);
  const std::string text = InflateRaw(EnvelopeBytes(registrations[0].params.at("v")));
  EXPECT_EQ(text.substr(0, 33), "0123456789abcdef0123456789abcdef\x12");
  EXPECT_EQ(op.Statistics().Requests("/plugins/stat/run").at(0).params.at("cv"), "12");
  EXPECT_NE(folder.Record("CFG_DID")["id"].asString(), "0123456789abcdef0123456789abcdef");
}

}  // namespace
}  // namespace e2e
