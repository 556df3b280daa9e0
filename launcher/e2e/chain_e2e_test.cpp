// The whole start-up chain: component updates through the real updater and
// packages, the launcher's self-update, and the hall start, each in a fresh
// Chinese-named program folder against the operator's endpoints.
#include <gtest/gtest.h>

#include <memory>

#include "json_util.h"
#include "launcher_folder.h"
#include "param_envelope.h"
#include "test_support.h"

namespace e2e {
namespace {

const std::string kTail = "\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)";
std::string Fatal(const std::string& firstLine) { return firstLine + kTail; }

// Hall parameters that make the demo hall end by itself.
Json::Value HallParams(const char* server = "s1") {
  Json::Value params(Json::objectValue);
  params["server"] = server;
  params["lifetime"] = 4000;
  return params;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

size_t Position(const std::string& log, const std::string& line) {
  const size_t at = log.find(line);
  EXPECT_NE(at, std::string::npos) << line;
  return at;
}

class Chain : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(op.Start()); }
  // Serves configuration `data` as version `version` of the configuration.
  void Serve(const Json::Value& data, int version = 1) {
    op.ReplyWith(op.ConfigReply(version));
    op.ServeConfigData(JsonText(data));
  }
  Operator op;
};

TEST_F(Chain, FirstStartInstallsBothComponentsAndStartsTheHallThenNothingIsDue) {
  Serve(ConfigData(op, 3, 5, JsonText(HallParams())));
  LauncherFolder folder;
  const std::string login = ParamEnvelope::Wrap("{\"user\":\"玩家淺\",\"token\":\"t\"}");
  Json::Value args(Json::objectValue);
  args["UC"] = 1;
  args["SP"] = login;
  const LauncherRun first = folder.RunLauncher(ParamEnvelope::Wrap(JsonText(args)));
  EXPECT_EQ(first.exitCode, 0);
  EXPECT_TRUE(first.dialogs.empty()) << first.dialogs.front();

  const Json::Value info = folder.Record("CFG_ConfigInfo");
  EXPECT_EQ(info["platformversion"].asInt(), 3);
  EXPECT_EQ(info["plazaversion"].asInt(), 5);
  for (const char* file : {"Platform\\logo.ico", "Orlune.exe", "Download\\Tessel.pkg.exe",
                           "Download\\Orlune.pkg.exe", "Log\\Install\\Tessel.pkg.log",
                           "Log\\Install\\Orlune.pkg.log", "Log\\updater.log"})
    EXPECT_TRUE(folder.Exists(file)) << file;
  const std::string log = folder.Log();
  EXPECT_LT(Position(log, "更新平台资源到版本[3]"), Position(log, "更新大厅到版本[5]"));
  EXPECT_LT(Position(log, "更新大厅到版本[5]"), Position(log, "启动大厅 文件:'Orlune.exe'"));
  EXPECT_TRUE(Has(log, "BOLT初始化[成功]")) << "the update view was asked for";
  // A build without keys verifies nothing, and says so once.
  EXPECT_EQ(Count(log, "配置签名校验: 未内置公钥,配置应答不作校验."), 1u) << log;

  // The hall got its parameters: the configured ones plus class, stamp and
  // the launcher's start parameters unchanged; plain, as configured.
  ASSERT_TRUE(folder.WaitForHallRecord(15000));
  const Json::Value hall = folder.HallRecord();
  EXPECT_FALSE(hall["enveloped"].asBool());
  const Json::Value params = ParseJsonText(hall["payload"].asString());
  EXPECT_EQ(params["server"].asString(), "s1");
  EXPECT_EQ(params["plaza"].asString(), "QZ_Orlune_U1");
  EXPECT_TRUE(params["stamp"].isInt());
  EXPECT_EQ(params["params"].asString(), login);
  EXPECT_EQ(hall["plaza"].asString(), "QZ_Orlune_U1");

  // Second start: nothing to update, nothing downloaded, the hall started.
  WaitUntil([] { return FindWindowA("QZ_Orlune_U1", nullptr) == nullptr; }, 10000);
  folder.Remove("Orlune.received.json");
  const size_t packages = op.Config().Requests("/Orlune.pkg.exe").size() +
                          op.Config().Requests("/Tessel.pkg.exe").size();
  EXPECT_EQ(packages, 2u);
  const LauncherRun second = folder.RunLauncher();
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_TRUE(second.dialogs.empty());
  EXPECT_EQ(op.Config().Requests("/Orlune.pkg.exe").size() +
                op.Config().Requests("/Tessel.pkg.exe").size(),
            packages);
  EXPECT_EQ(op.Config().Requests("/config.json").size(), 1u) << "the configuration is current";
  const std::string again = folder.Log();
  EXPECT_TRUE(Has(again, "当前[平台资源]版本[3] 最新版本[3]")) << again;
  EXPECT_TRUE(Has(again, "当前[大厅]版本[5] 最新版本[5]")) << again;
  EXPECT_FALSE(Has(again, "BOLT初始化")) << "no update view on a quick start";
  EXPECT_TRUE(folder.WaitForHallRecord(15000));
}

// A lower version is installed too; a configuration that names no hall
// program starts the default one, with a warning.
TEST_F(Chain, ALowerVersionIsInstalledTooAndNoProgramNameMeansTheDefault) {
  Json::Value data = ConfigData(op, 0, 4, JsonText(HallParams()));
  data["info"].removeMember("file");
  Serve(data);
  LauncherFolder folder;
  folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":5})");
  const LauncherRun run = folder.RunLauncher();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(folder.Record("CFG_ConfigInfo")["plazaversion"].asInt(), 4);
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "当前[平台资源]版本[0] 最新版本[0]")) << log;
  EXPECT_LT(Position(log, "[警告]未指定大厅执行程序名!"), Position(log, "启动大厅 文件:'Orlune.exe'"));
  EXPECT_TRUE(folder.WaitForHallRecord(15000));
}

TEST_F(Chain, FailuresOfTheUpdatesAndTheHallStart) {
  struct Case {
    const char* name;
    std::function<void(Operator&, LauncherFolder&)> arrange;
    std::string shown;
    const char* logged;       // a line the log holds ("" for none)
    const char* notLogged;    // a line it must not hold ("" for none)
  } cases[] = {
      {"platform out of date without address",
       [](Operator& op, LauncherFolder&) {
         Json::Value data = ConfigData(op, 3, 5);
         data["platform"].removeMember("url");
         op.ServeConfigData(JsonText(data));
       },
       "由于配置信息错误而无法[平台资源]!", "当前[平台资源]版本[0] 最新版本[3]", ""},
      {"no hall in the configuration",
       [](Operator& op, LauncherFolder&) { op.ServeConfigData(R"({"platform":{"version":0}})"); },
       "由于配置信息错误而无法更新[游戏大厅].", "当前[大厅]版本[0] 最新版本[0]", ""},
      {"hall out of date without address",
       [](Operator& op, LauncherFolder&) {
         Json::Value data = ConfigData(op, 0, 5);
         data["info"]["url"] = 7;
         op.ServeConfigData(JsonText(data));
       },
       "由于配置信息错误而无法更新[游戏大厅]!", "", ""},
      {"hall package not downloadable, an older one present",
       [](Operator& op, LauncherFolder& folder) {
         Json::Value data = ConfigData(op, 0, 5);
         op.Config().Route("/Orlune.pkg.exe", StatusReply(404));
         op.ServeConfigData(JsonText(data));
         CreateDirectoryA(folder.File("Download").c_str(), nullptr);
         folder.Add("Orlune.pkg.exe", "Download\\Orlune.pkg.exe");
       },
       "大厅更新包下载失败,请检查网络或重新安装.", "", "运行更新器失败"},
      {"hall package whose published digest does not match (checked without keys too)",
       [](Operator& op, LauncherFolder&) {
         Json::Value data = ConfigData(op, 0, 5);
         data["info"]["sha256"] = std::string(64, 'a');
         op.ServeConfigData(JsonText(data));
       },
       "大厅更新包下载失败,请检查网络或重新安装.",
       "期望sha256:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa 实际sha256:",
       "运行更新器失败"},
      {"hall installer fails",
       [](Operator& op, LauncherFolder&) {
         Json::Value data = ConfigData(op, 0, 5);
         endpoint::Reply failing;
         failing.file = testing_support::ProgramDir() + "Fails3.pkg.exe";
         op.Config().Route("/Orlune.pkg.exe", failing);
         op.ServeConfigData(JsonText(data));
       },
       "大厅更新包安装失败!", "运行更新器失败[错误:", ""},
      {"no updater",
       [](Operator& op, LauncherFolder& folder) {
         op.ServeConfigData(JsonText(ConfigData(op, 3, 5)));
         folder.Remove("Updater.exe");
       },
       "平台资源更新包安装失败!", "更新包下载地址:\"http://127.0.0.1:18090/Tessel.pkg.exe\"",
       "运行更新器失败"},
      {"an updater that cannot be started",
       [](Operator& op, LauncherFolder& folder) {
         op.ServeConfigData(JsonText(ConfigData(op, 3, 5)));
         folder.Write("Updater.exe", "这不是程序");
       },
       "平台资源更新包安装失败!", "运行更新器失败[错误:-1] 参数:", ""},
      {"hall program not created",
       [](Operator& op, LauncherFolder& folder) {
         Json::Value data = ConfigData(op, 0, 5);
         data["info"]["file"] = "NoSuchHall.exe";
         op.ServeConfigData(JsonText(data));
         folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":5})");
       },
       "[游戏大厅]启动失败!", "启动大厅 文件:'NoSuchHall.exe'", ""},
      {"continuation without a version",
       [](Operator& op, LauncherFolder&) {
         Json::Value reply = ParseJsonText(op.ConfigReply(1));
         reply["data"].append(R"({"op":"UpdatePlatform","name":"Tessel.pkg.exe","dir":"D","result":{"status":true}})");
         op.ReplyWith(JsonText(reply));
         op.ServeConfigData(JsonText(ConfigData(op, 0, 5)));
       },
       "平台资源更新信息错误!", "", ""},
      {"launcher update with a bad name",
       [](Operator& op, LauncherFolder&) {
         Json::Value reply = ParseJsonText(op.ConfigReply(1));
         reply["data"].append(R"({"op":"UpdateStarter","type":1,"name":"","dir":"D"})");
         op.ReplyWith(JsonText(reply));
         op.ServeConfigData(JsonText(ConfigData(op, 0, 5)));
       },
       "更新失败,请检查网络或重新安装.", "", ""},
      {"launcher package not downloadable",
       [](Operator& op, LauncherFolder&) {
         op.ReplyWith(R"({"code":2,"type":1,"version":2015,"url":"http://127.0.0.1:18090/Lumora.pkg.exe"})");
         op.Config().Route("/Lumora.pkg.exe", StatusReply(500));
       },
       "更新下载失败,请检查网络或重新安装.", "当前[启动器]版本[2014040401] 最新版本[2015]", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    op.ReplyWith(op.ConfigReply(1));
    LauncherFolder folder;
    c.arrange(op, folder);
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal(c.shown));
    const std::string log = folder.Log();
    if (*c.logged) {
      EXPECT_TRUE(Has(log, c.logged)) << log;
    }
    if (*c.notLogged) {
      EXPECT_FALSE(Has(log, c.notLogged)) << log;
    }
    // A failed update leaves the installed versions as they were.
    const Json::Value info = folder.Record("CFG_ConfigInfo");
    EXPECT_FALSE(info.isMember("platformversion")) << JsonText(info);
    EXPECT_TRUE(!info.isMember("plazaversion") || info["plazaversion"].asInt() == 5)
        << JsonText(info);
  }
}

TEST_F(Chain, DebugModeStartsTheInstalledHallWithoutDownloads) {
  Serve(ConfigData(op, 3, 5, JsonText(HallParams())));
  LauncherFolder folder;
  folder.Add("Orlune.exe");
  const LauncherRun run = folder.RunLauncher("{\"DG\":true}");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty());
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "使用当前版本[平台资源]继续调试.")) << log;
  EXPECT_TRUE(Has(log, "使用当前版本[游戏大厅]继续调试.")) << log;
  EXPECT_TRUE(op.Config().Requests("/Tessel.pkg.exe").empty());
  EXPECT_TRUE(op.Config().Requests("/Orlune.pkg.exe").empty());
  EXPECT_TRUE(folder.WaitForHallRecord(15000));
}

// A package download cut short by a killed launcher is carried on by the
// next start from where it stopped: only the rest is sent again.
TEST_F(Chain, APackageFromAKilledLauncherIsCarriedOnByTheNextStart) {
  Serve(ConfigData(op, 0, 5, JsonText(HallParams())));
  const std::string package = testing_support::ProgramDir() + "Orlune.pkg.exe";
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  ASSERT_TRUE(GetFileAttributesExA(package.c_str(), GetFileExInfoStandard, &attributes));
  const int64_t size = attributes.nFileSizeLow;
  endpoint::Reply whole;
  whole.file = package;
  whole.ranges = true;
  whole.etag = "\"pkg-1\"";
  endpoint::Reply slow = whole;
  slow.bytesPerSecond = size / 6;
  auto answered = std::make_shared<int>(0);
  op.Config().Route("/Orlune.pkg.exe", [=](const endpoint::Request&) {
    return (*answered)++ == 0 ? slow : whole;
  });

  LauncherFolder folder;
  // The partial file in the package folder, and its size.
  auto part = [&folder](int64_t& bytes) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(folder.File("Download\\Orlune.pkg.exe.*.part").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    bytes = found.nFileSizeLow;
    return true;
  };
  int64_t kept = 0;
  {
    Process first = folder.StartLauncher();
    ASSERT_TRUE(WaitUntil([&] { return part(kept) && kept > size / 3; }, 30000));
    first.Finish(0);  // killed
  }
  ASSERT_TRUE(part(kept));
  ASSERT_GT(kept, 0);
  EXPECT_FALSE(folder.Exists("Download\\Orlune.pkg.exe"));
  // The killed launcher's answer ends when the endpoint finds its connection
  // gone; what it sends until then is not the next start's.
  ASSERT_TRUE(WaitUntil([&] { return op.Config().ActiveReplies() == 0; }, 10000));

  const uint64_t sentBefore = op.Config().BytesSent();
  const LauncherRun second = folder.RunLauncher();
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_TRUE(second.dialogs.empty());
  EXPECT_TRUE(folder.Exists("Orlune.exe"));
  const auto asked = op.Config().Requests("/Orlune.pkg.exe");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].range, "bytes=" + std::to_string(kept) + "-");
  // The rest of the package, and the small configuration texts.
  const uint64_t sent = op.Config().BytesSent() - sentBefore;
  EXPECT_GE(sent, static_cast<uint64_t>(size - kept));
  EXPECT_LE(sent, static_cast<uint64_t>(size - kept) + 16 * 1024);
  int64_t left = 0;
  EXPECT_FALSE(part(left)) << "no partial file stays";
  EXPECT_TRUE(folder.WaitForHallRecord(15000));
}

TEST_F(Chain, ARunningHallGivesWayToNoUpdate) {
  Serve(ConfigData(op, 3, 5));
  LauncherFolder folder;
  // The configuration is current; the platform is out of date.
  folder.SetRecord("CFG_ConfigInfo", R"({"version":1,"UnionCode":6,"DebugCode":0})");
  folder.SetRecord("CFG_ConfigData", ConfigData(op, 3, 5));
  folder.Add("Orlune.exe");
  Process hall;
  ASSERT_TRUE(hall.Start("\"" + folder.File("Orlune.exe") + "\" {\"plaza\":\"QZ_Orlune_U6\"}",
                         folder.Path()));
  ASSERT_TRUE(WaitUntil([] { return FindWindowA("QZ_Orlune_U6", nullptr) != nullptr; }, 10000));
  const LauncherRun run = folder.RunLauncher("{\"UC\":6}");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_TRUE(op.Config().Requests("/Tessel.pkg.exe").empty());
  EXPECT_TRUE(WaitUntil([&] { return folder.HallRecord()["shown"].asInt() == 1; }, 10000));
}

// The launcher replaces itself: the endpoint orders the update once; the
// restarted launcher asks again with the same settings and is told to go on.
class SelfUpdate : public Chain {
 protected:
  void OrderUpdateOnce(int type) {
    op.ServeConfigData(JsonText(ConfigData(op, 0, 5, JsonText(HallParams()))));
    op.ServePackage("Lumora.pkg.exe");
    const std::string update =
        "{\"code\":2,\"type\":" + std::to_string(type) +
        ",\"version\":2015010101,\"url\":\"http://127.0.0.1:18090/Lumora.pkg.exe\"}";
    const std::string proceed = op.ConfigReply(1);
    auto ordered = std::make_shared<LONG>(0);
    op.ReplyWith([=](const endpoint::Request&) {
      endpoint::Reply reply;
      reply.body = InterlockedIncrement(ordered.get()) == 1 ? update : proceed;
      return reply;
    });
  }
};

TEST_F(SelfUpdate, TypeOneCopiesTheNewLauncherOverItselfAndRestartsWithTheSameSettings) {
  OrderUpdateOnce(1);
  LauncherFolder folder;
  folder.Add("Orlune.exe");
  folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":5})");
  const LauncherRun run = folder.RunLauncher("{\"UC\":3,\"SP\":\"login-text\"}");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_TRUE(folder.Exists("Download\\Lumora.pkg.exe"));
  // The updater copies over the launcher and starts it: it asks again.
  ASSERT_TRUE(op.Config().WaitForRequests("/starterUpdate.do", 2, 30000));
  ASSERT_TRUE(folder.WaitForHallRecord(30000));
  const auto asked = op.Config().Requests("/starterUpdate.do");
  EXPECT_EQ(asked[1].params.at("u"), "3");
  const Json::Value params = ParseJsonText(folder.HallRecord()["payload"].asString());
  EXPECT_EQ(params["params"].asString(), "login-text");
  EXPECT_EQ(params["plaza"].asString(), "QZ_Orlune_U3");
  // Copied, then the copy was started.
  const std::string updaterLog = folder.Read("Log\\updater.log");
  EXPECT_TRUE(Has(updaterLog, "复制成功")) << updaterLog;
  EXPECT_TRUE(Has(updaterLog, "运行成功")) << updaterLog;
  WaitUntil([] { return FindWindowA("QZ_Lumo_U3", nullptr) == nullptr; }, 15000);
}

// An update that cannot replace the launcher is refused while the launcher
// can still say so: it stays as it is, and no updater runs.
TEST_F(SelfUpdate, AnUpdateThatCannotReplaceTheLauncherIsRefusedBeforeItEnds) {
  enum class Updater { Present, Missing, NotAProgram };
  struct Case {
    const char* name;
    int type;
    Updater updater;
    const char* logged;
  } cases[] = {
      // Type 2 names the launcher's folder, which no file can be copied onto.
      {"type 2", 2, Updater::Present, "启动器更新类型[2]无法执行"},
      {"no updater", 1, Updater::Missing, "更新器不存在:\""},
      {"an updater that cannot be started", 1, Updater::NotAProgram,
       "运行更新器失败[错误:-1] 参数:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OrderUpdateOnce(c.type);
    LauncherFolder folder;
    if (c.updater == Updater::Missing) folder.Remove("Updater.exe");
    if (c.updater == Updater::NotAProgram) folder.Write("Updater.exe", "这不是程序");
    const std::string launcher = folder.Read("Lumora.exe");
    const size_t asked = op.Config().Requests("/starterUpdate.do").size();
    const LauncherRun run = folder.RunLauncher("{\"UC\":8}");
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal("更新失败,请检查网络或重新安装."));
    const std::string log = folder.Log();
    EXPECT_TRUE(Has(log, c.logged)) << log;
    if (c.updater != Updater::Present) {
      EXPECT_TRUE(Has(log, "\\Updater.exe\"")) << "the updater is named: " << log;
    }
    if (c.updater == Updater::NotAProgram) {
      EXPECT_TRUE(Has(log, "启动失败! '\"")) << log;
      EXPECT_FALSE(Has(log, "更新器不存在")) << log;
    }
    EXPECT_TRUE(folder.Exists("Download\\Lumora.pkg.exe")) << "the package did arrive";
    EXPECT_FALSE(folder.Exists("Log\\updater.log")) << "no updater ran";
    EXPECT_EQ(folder.Read("Lumora.exe"), launcher);
    EXPECT_EQ(op.Config().Requests("/starterUpdate.do").size(), asked + 1) << "nothing restarted";
  }
}

}  // namespace
}  // namespace e2e
