// The trusted launcher against someone who kept every document the operator
// ever signed: releases written by the publishing tool with the test build's
// key (scripts/trusted-releases.sh, part of the fixture tls_front, into
// build/x64/releases), served over HTTPS from the loopback operator and
// replayed, mixed, swapped and cut. Each attack ends with nothing rolled
// back, nothing stored, nothing run, and the genuine release afterwards
// working as it should.
#include <gtest/gtest.h>

#include <functional>

#include "test_signer.h"
#include "test_signing_key.inc"
#include "tls_front_control.h"
#include "trusted_e2e.h"

namespace e2e {
namespace {

using testing_support::TestSigner;
using testing_support::TlsFront;

const char kLauncherUpdateFailed[] = "更新失败,检查网络或重新安装.";

std::string ReleaseFile(const std::string& release, const std::string& name) {
  return testing_support::ProgramDir() + "..\\releases\\" + release + "\\" + name;
}

// A file of a release as the operator's server answers it: its bytes and,
// when it has one, the first line of its signature file as the header.
endpoint::Reply Served(const std::string& release, const std::string& name) {
  std::string signature;
  if (testing_support::ReadFileBytes(ReleaseFile(release, name + ".sig"), signature))
    signature = signature.substr(0, signature.find_first_of("\r\n"));
  return SignedReply(FileBytes(ReleaseFile(release, name)), signature);
}

class TrustedReleases : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlsFront::Running()) << "the TLS front is not running (CTest fixture tls_front)";
    ASSERT_TRUE(testing_support::ReadFileBytes(ReleaseFile("r2", "starterUpdate.json"), probe_))
        << "no releases (scripts/trusted-releases.sh, CTest fixture tls_front)";
    ASSERT_TRUE(op.Start());
    // Every file of every release at "/<release>/<file>".
    for (const char* release : {"r1", "r2", "downgrade", "http", "http-packages", "expired",
                                "stale"}) {
      for (const char* file : {"config.json", "starterUpdate.json", "starterUpdate.launcher.json"}) {
        std::string bytes;
        if (testing_support::ReadFileBytes(ReleaseFile(release, file), bytes))
          op.Config().Route(std::string("/") + release + "/" + file, Served(release, file));
      }
      for (const char* package : {"Tessel.pkg.exe", "Orlune.pkg.exe", "Lumora.pkg.exe"}) {
        endpoint::Reply file;
        file.file = ReleaseFile(release, package);
        op.Config().Route(std::string("/") + release + "/" + package, file);
      }
    }
    Answer("r2");
  }

  // The configuration endpoint answers with a release's reply.
  void Answer(const std::string& release, const char* reply = "starterUpdate.json") {
    op.ReplyWith(Served(release, reply));
  }

  size_t Requests(const std::string& path) { return op.Config().Requests(path).size(); }

  // The genuine release 2 on a folder: configuration 2 stored, platform 3
  // and hall 5 installed, the hall started.
  void ExpectGenuineRelease(const TrustedFolder& folder, const LauncherRun& run) {
    EXPECT_EQ(run.exitCode, 0) << folder.Seen();
    EXPECT_TRUE(run.dialogs.empty()) << run.dialogs.front();
    const Json::Value info = folder.Record("CFG_ConfigInfo");
    EXPECT_EQ(info["version"].asInt(), 2) << JsonText(info);
    EXPECT_EQ(info["platformversion"].asInt(), 3);
    EXPECT_EQ(info["plazaversion"].asInt(), 5);
    EXPECT_EQ(folder.RecordText("CFG_ConfigData"), FileBytes(ReleaseFile("r2", "config.json")))
        << "the stored configuration is the signed bytes";
    ASSERT_TRUE(folder.WaitForHallRecord(15000));
    EXPECT_EQ(ParseJsonText(folder.HallRecord()["payload"].asString())["server"].asString(), "r2")
        << "the hall of another release was started";
    EXPECT_TRUE(WaitForHallToEnd());
  }

  // A refused start: the message, one log line saying why.
  void ExpectRefused(const TrustedFolder& folder, const LauncherRun& run, const std::string& message,
                     const std::string& logged) {
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal(message));
    EXPECT_EQ(Count(folder.Log(), logged), 1u) << folder.Seen();
  }

  // A folder on release `release` (installed by the genuine chain), its
  // updater log and hall record cleared for what follows.
  void Install(const TrustedFolder& folder, const std::string& release, int hall) {
    Answer(release);
    const LauncherRun run = folder.RunLauncher();
    ASSERT_EQ(run.exitCode, 0) << folder.Seen();
    ASSERT_EQ(folder.Record("CFG_ConfigInfo")["plazaversion"].asInt(), hall);
    ASSERT_TRUE(folder.WaitForHallRecord(15000));
    ASSERT_TRUE(WaitForHallToEnd());
    folder.Remove("Orlune.received.json");
    folder.Remove("Log\\updater.log");
  }

  // Nothing of release `release` was undone: the same configuration and
  // components, no updater run, no hall started.
  void ExpectStillOn(const TrustedFolder& folder, int version, int hall) {
    const Json::Value info = folder.Record("CFG_ConfigInfo");
    EXPECT_EQ(info["version"].asInt(), version) << JsonText(info);
    EXPECT_EQ(info["plazaversion"].asInt(), hall) << JsonText(info);
    EXPECT_EQ(folder.Record("CFG_ConfigData")["version"].asInt(), version);
    EXPECT_FALSE(folder.Exists("Log\\updater.log")) << "the updater ran";
    EXPECT_FALSE(folder.Exists("Orlune.received.json")) << "a hall was started";
  }

  Operator op;
  TlsFront front;
  std::string probe_;
};

TEST_F(TrustedReleases, ALauncherUpdateToAnOlderLauncherIsRefusedAndNothingIsDownloaded) {
  Answer("downgrade", "starterUpdate.launcher.json");
  TrustedFolder folder;
  const std::string launcher = folder.Read("Lumora.exe");
  const LauncherRun run = folder.RunLauncher("{\"UC\":1}");
  ExpectRefused(folder, run, kLauncherUpdateFailed,
                "CheckConfig 应答被拒绝[启动器版本不高于当前版本] 当前版本[2014040401] "
                "应答版本[2014010101]");
  EXPECT_EQ(Requests("/downgrade/Lumora.pkg.exe"), 0u) << "the older launcher was downloaded";
  EXPECT_FALSE(folder.Exists("Download\\Lumora.pkg.exe"));
  EXPECT_TRUE(folder.Read("Lumora.exe") == launcher) << "the launcher was replaced";
  EXPECT_EQ(Requests("/starterUpdate.do"), 1u) << "a launcher was started again";
  ExpectNothingInstalled(folder);

  Answer("r2");
  ExpectGenuineRelease(folder, folder.RunLauncher("{\"UC\":1}"));
}

TEST_F(TrustedReleases, AnOlderReleaseIsNeverTakenAgainAndTheCurrentOneStays) {
  TrustedFolder folder;
  Install(folder, "r2", 5);
  const size_t hallDownloads = Requests("/r2/Orlune.pkg.exe");

  // Release 1's signed reply and data, as recorded, on a folder on release 2.
  Answer("r1");
  const LauncherRun run = folder.RunLauncher();
  ExpectRefused(folder, run, kBadData,
                "CheckConfig 应答被拒绝[配置版本低于已校验的版本] 应答版本[1] 已校验版本[2]");
  EXPECT_EQ(Requests("/r1/config.json"), 0u);
  EXPECT_EQ(Requests("/r1/Orlune.pkg.exe"), 0u);
  ExpectStillOn(folder, 2, 5);

  // The genuine release: current, nothing downloaded, the hall started.
  Answer("r2");
  ExpectGenuineRelease(folder, folder.RunLauncher());
  EXPECT_EQ(Requests("/r2/Orlune.pkg.exe"), hallDownloads);
}

TEST_F(TrustedReleases, AReplyWithAnotherReleasesDataIsRefusedAndNothingIsStored) {
  // Release 2's reply, release 1's data (signed, of the right kind) at its address.
  op.Config().Route("/r2/config.json", Served("r1", "config.json"));
  TrustedFolder folder;
  const LauncherRun run = folder.RunLauncher();
  ExpectRefused(folder, run, kBadData, "ConfigLoaded 配置数据被拒绝[sha256与应答不符]");
  EXPECT_TRUE(Has(folder.Log(), "ConfigLoaded 签名校验通过")) << "signed data, wrong release";
  ExpectNothingInstalled(folder);

  op.Config().Route("/r2/config.json", Served("r2", "config.json"));
  ExpectGenuineRelease(folder, folder.RunLauncher());
}

TEST_F(TrustedReleases, ADocumentSignedAsOneKindIsRefusedAsAnother) {
  const TestSigner signer = TestSigner::FromKeyPair(kTestSigningKey);
  const std::string quit = R"({"op":"Quit","code":7})";
  const struct {
    const char* name;
    std::function<void()> serve;
    const char* logged;
  } cases[] = {
      {"the reply served as the data",
       [&] { op.Config().Route("/r2/config.json", Served("r2", "starterUpdate.json")); },
       "ConfigLoaded 签名校验失败[文档类型不符] 签名类型[配置应答]"},
      {"the data served as the reply", [&] { op.ReplyWith(Served("r2", "config.json")); },
       "CheckConfig 签名校验失败[文档类型不符] 签名类型[配置数据]"},
      {"an operation-call answer served as the reply",
       [&] { op.ReplyWith(SignedReply(quit, signer.Header(quit, trust::DocumentRole::CallAnswer))); },
       "CheckConfig 签名校验失败[文档类型不符] 签名类型[操作应答]"},
      {"a launcher update's reply signed as a configuration reply",
       [&] {
         const std::string text = FileBytes(ReleaseFile("downgrade", "starterUpdate.launcher.json"));
         op.ReplyWith(SignedReply(text, signer.Header(text, trust::DocumentRole::ConfigReply)));
       },
       "CheckConfig 应答被拒绝[文档类型不符] 代码[2] 签名类型[配置应答]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Answer("r2");
    op.Config().Route("/r2/config.json", Served("r2", "config.json"));
    c.serve();
    TrustedFolder folder;
    const LauncherRun run = folder.RunLauncher();
    ExpectRefused(folder, run, kBadData, c.logged);
    ExpectNothingInstalled(folder);
  }
  Answer("r2");
  op.Config().Route("/r2/config.json", Served("r2", "config.json"));
  TrustedFolder folder;
  ExpectGenuineRelease(folder, folder.RunLauncher());
}

TEST_F(TrustedReleases, ANewerConfigurationThatCannotBeLoadedEndsVisibly) {
  TrustedFolder folder;
  Install(folder, "r1", 4);
  // Release 2 announced; its data's connection closed before any byte.
  endpoint::Reply dropped = Served("r2", "config.json");
  dropped.dropAfterBytes = 0;
  op.Config().Route("/r2/config.json", dropped);
  Answer("r2");
  const LauncherRun run = folder.RunLauncher();
  ExpectRefused(folder, run, kBadData,
                "ConfigLoaded 配置数据未能加载 应答宣布的版本[2] 已校验的版本[1]");
  EXPECT_GE(Requests("/r2/config.json"), 1u);
  ExpectStillOn(folder, 1, 4);

  op.Config().Route("/r2/config.json", Served("r2", "config.json"));
  ExpectGenuineRelease(folder, folder.RunLauncher());
}

TEST_F(TrustedReleases, SignedReleasesNamingHttpAddressesAreRefusedAndNothingGoesOverHttp) {
  const struct {
    const char* name;
    const char* release;
    const char* reply;
    const char* logged;
  } cases[] = {
      {"configuration data at http", "http", "starterUpdate.json",
       "CheckConfig 应答被拒绝[非https地址] 地址:http://localhost:18090/http/config.json"},
      {"a launcher update at http", "http", "starterUpdate.launcher.json",
       "CheckConfig 应答被拒绝[非https地址] 地址:http://localhost:18090/http/Lumora.pkg.exe"},
      {"packages at http", "http-packages", "starterUpdate.json",
       "ConfigLoaded 配置数据被拒绝[非https地址] 地址:http://localhost:18090/http-packages/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Answer(c.release, c.reply);
    TrustedFolder folder;
    const LauncherRun run = folder.RunLauncher();
    ExpectRefused(folder, run, kBadData, c.logged);
    ExpectNothingInstalled(folder);
  }
  // Every request came through the TLS front: none went to the plain port.
  for (const endpoint::Request& request : op.Config().Requests())
    EXPECT_EQ(request.host, "localhost:18443") << request.path;
  EXPECT_EQ(Requests("/http/Lumora.pkg.exe") + Requests("/http-packages/Tessel.pkg.exe") +
                Requests("/http-packages/Orlune.pkg.exe"),
            0u);

  Answer("r2");
  TrustedFolder folder;
  ExpectGenuineRelease(folder, folder.RunLauncher());
}

TEST_F(TrustedReleases, AnEditedStoredConfigurationCountsAsNoneAndIsLoadedAgain) {
  const TestSigner signer = TestSigner::FromKeyPair(kTestSigningKey);
  const std::string genuine = FileBytes(ReleaseFile("r2", "config.json"));
  const std::string evil = "/evil/Orlune.pkg.exe";
  const struct {
    const char* name;
    std::function<void(const TrustedFolder&)> edit;
    const char* logged;
  } cases[] = {
      {"the hall's address and digest changed",
       [&](const TrustedFolder& folder) {
         Json::Value data = ParseJsonText(genuine);
         data["info"]["url"] = "https://localhost:18443" + evil;
         data["info"]["sha256"] = Sha256Text(FileBytes(ReleaseFile("r2", "Tessel.pkg.exe")));
         folder.SetRecordText("CFG_ConfigData", rt::StyledText(data));
       },
       "已存储的配置校验失败[内容与签名不符]"},
      {"another document's signature",
       [&](const TrustedFolder& folder) {
         Json::Value record(Json::objectValue);
         record["signature"] = Served("r1", "config.json").headers[0].second;
         folder.SetRecord("CFG_ConfigSignature", record);
       },
       "已存储的配置校验失败[内容与签名不符]"},
      {"its bytes signed as another kind",
       [&](const TrustedFolder& folder) {
         Json::Value record(Json::objectValue);
         record["signature"] = signer.Header(genuine, trust::DocumentRole::ConfigReply);
         folder.SetRecord("CFG_ConfigSignature", record);
       },
       "已存储的配置校验失败[文档类型不符]"},
      {"release 1's signed data and signature put back",
       [&](const TrustedFolder& folder) {
         folder.SetRecordText("CFG_ConfigData", FileBytes(ReleaseFile("r1", "config.json")));
         Json::Value record(Json::objectValue);
         record["signature"] = Served("r1", "config.json").headers[0].second;
         folder.SetRecord("CFG_ConfigSignature", record);
         Json::Value info = folder.Record("CFG_ConfigInfo");
         info["version"] = 1;
         folder.SetRecord("CFG_ConfigInfo", info);
       },
       "已存储的配置校验失败[低于已校验的版本]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TrustedFolder folder;
    Install(folder, "r2", 5);
    c.edit(folder);
    Json::Value info = folder.Record("CFG_ConfigInfo");
    info["plazaversion"] = 4;  // the hall "due": an edited entry would be fetched now
    folder.SetRecord("CFG_ConfigInfo", info);
    const size_t loads = Requests("/r2/config.json");

    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(Count(folder.Log(), c.logged), 1u) << folder.Seen();
    EXPECT_EQ(Requests("/r2/config.json"), loads + 1) << "not loaded again";
    EXPECT_EQ(Requests(evil), 0u) << "the edited address was fetched";
    ExpectGenuineRelease(folder, run);
  }
}

TEST_F(TrustedReleases, RecordedRepliesThatHaveExpiredAreRefused) {
  // Expired by the clock (and beyond its allowance), on a new folder.
  {
    Answer("expired");
    TrustedFolder folder;
    const LauncherRun run = folder.RunLauncher();
    ExpectRefused(folder, run, kBadData, "CheckConfig 应答被拒绝[应答已过期] 签发[");
    EXPECT_TRUE(Has(folder.Log(), "本机时间[")) << folder.Seen();
    EXPECT_EQ(Requests("/expired/config.json"), 0u);
    ExpectNothingInstalled(folder);
    EXPECT_TRUE(folder.Record("CFG_Trust").isNull()) << "an expired reply's time was kept";
  }
  // Expired an hour ago: within the clock's allowance, but before the issue
  // time of a reply this launcher verified (release 2's).
  TrustedFolder folder;
  Install(folder, "r2", 5);
  const Json::Value trusted = folder.Record("CFG_Trust");
  EXPECT_EQ(trusted["configVersion"].asInt(), 2) << JsonText(trusted);
  EXPECT_EQ(trusted["issued"].asInt64(),
            ParseJsonText(FileBytes(ReleaseFile("r2", "starterUpdate.json")))["issued"].asInt64());
  Answer("stale");
  const LauncherRun run = folder.RunLauncher();
  ExpectRefused(folder, run, kBadData, "CheckConfig 应答被拒绝[应答已过期,早于已校验的应答]");
  EXPECT_EQ(Requests("/stale/config.json"), 0u);
  ExpectStillOn(folder, 2, 5);

  Answer("r2");
  ExpectGenuineRelease(folder, folder.RunLauncher());
}

}  // namespace
}  // namespace e2e
