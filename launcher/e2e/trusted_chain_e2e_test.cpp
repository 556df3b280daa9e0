// The trusted channel end to end: the test build's trusted launcher
// (LumoraTrusted.exe, the test key built in, the operator at
// https://localhost:18443 and :19443) from a Chinese-named program folder,
// against the operator's endpoints behind the loopback TLS front, with
// replies signed by the test build's key and packages named by their digests.
#include <gtest/gtest.h>

#include "test_signer.h"
#include "test_signing_key.inc"
#include "tls_front_control.h"
#include "trusted_e2e.h"

namespace e2e {
namespace {

using testing_support::kTlsConfigPort;
using testing_support::ServerCertificate;
using testing_support::TestSigner;
using testing_support::TlsFront;
using trust::DocumentRole;

std::string Https(const std::string& path) { return TlsFront::Url(kTlsConfigPort, path); }

std::string FileDigest(const std::string& path) { return Sha256Text(FileBytes(path)); }
int64_t FileSize(const std::string& path) { return static_cast<int64_t>(FileBytes(path).size()); }
endpoint::Reply Reply(const std::string& body, const std::string& signature) {
  return SignedReply(body, signature);
}

class TrustedChain : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlsFront::Running()) << "the TLS front is not running (CTest fixture tls_front)";
    ASSERT_TRUE(signer.Valid());
    ASSERT_TRUE(op.Start());
    // A statistics answer that would end the launcher with 9 if it ran: it is
    // not signed, so a trusted launcher must not run it.
    op.Statistics().Route("/plugins/stat/run", Reply(R"({"op":"Quit","code":9})", ""));
  }

  // The package entry of a bin file at "/<name>" over HTTPS.
  Json::Value Package(const std::string& name, int version) {
    op.ServePackage(name);
    const std::string path = testing_support::ProgramDir() + name;
    Json::Value entry(Json::objectValue);
    entry["version"] = version;
    entry["url"] = Https("/" + name);
    entry["sha256"] = FileDigest(path);
    entry["size"] = static_cast<Json::Int>(FileSize(path));
    return entry;
  }

  // Configuration data with both components (platform 3, hall 5), hashed.
  Json::Value Data() {
    Json::Value data(Json::objectValue);
    data["platform"] = Package("Tessel.pkg.exe", 3);
    data["info"] = Package("Orlune.pkg.exe", 5);
    data["info"]["file"] = "Orlune.exe";
    data["info"]["params"] = "{\"server\":\"s1\",\"lifetime\":4000}";
    return data;
  }

  // A fresh configuration reply naming `dataText` as configuration 1 at
  // "/config.json" (its version, digest and size), as the publishing tool
  // writes it.
  static std::string ReplyText(const std::string& dataText) {
    Json::Value reply(Json::objectValue);
    reply["code"] = 1;
    reply["version"] = 1;
    reply["url"] = Https("/config.json");
    reply["sha256"] = Sha256Text(dataText);
    reply["size"] = static_cast<Json::Int>(dataText.size());
    StampFresh(reply);
    return rt::StyledText(reply);
  }

  // The configuration data as configuration 1.
  static std::string DataText(Json::Value data) {
    data["version"] = 1;
    return rt::StyledText(data);
  }

  // Serves a signed reply and signed configuration data.
  void ServeSigned(const Json::Value& data) {
    const std::string text = DataText(data);
    const std::string reply = ReplyText(text);
    op.ReplyWith(Reply(reply, signer.Header(reply, DocumentRole::ConfigReply)));
    op.Config().Route("/config.json", Reply(text, signer.Header(text, DocumentRole::ConfigData)));
  }

  Operator op;
  TlsFront front;
  const TestSigner signer = TestSigner::FromKeyPair(kTestSigningKey);
};

TEST_F(TrustedChain, FirstStartInstallsBothOverHttpsAndTheSecondNothing) {
  ServeSigned(Data());
  TrustedFolder folder;
  const LauncherRun first = folder.RunLauncher("{\"UC\":1}");
  EXPECT_EQ(first.exitCode, 0) << "an unsigned statistics answer must not run";
  EXPECT_TRUE(first.dialogs.empty()) << first.dialogs.front();
  const std::string log = folder.Log();
  const trust::KeyId id = signer.Id();
  EXPECT_EQ(Count(log, "配置签名校验: 已内置公钥[" + trust::HexText(id.data(), id.size()) + "]"), 1u)
      << log;
  EXPECT_TRUE(Has(log, "CheckConfig 签名校验通过")) << log;
  EXPECT_TRUE(Has(log, "CheckConfig 应答有效 类型[配置应答]")) << log;
  EXPECT_TRUE(Has(log, "ConfigLoaded 签名校验通过")) << log;
  EXPECT_TRUE(Has(log, "ConfigLoaded 配置数据与应答相符 版本[1]")) << log;
  EXPECT_EQ(Count(log, "更新包校验通过"), 2u) << log;
  EXPECT_TRUE(Has(log, "URLLoadData 签名校验失败[缺少签名],应答不作为操作执行 地址:https://localhost:19443/plugins/stat/run"))
      << log;
  const Json::Value info = folder.Record("CFG_ConfigInfo");
  EXPECT_EQ(info["platformversion"].asInt(), 3);
  EXPECT_EQ(info["plazaversion"].asInt(), 5);
  EXPECT_TRUE(folder.Exists("Platform\\logo.ico"));
  EXPECT_TRUE(folder.WaitForHallRecord(15000));
  // Everything came through the TLS front.
  for (const endpoint::Request& request : op.Config().Requests())
    EXPECT_EQ(request.host, "localhost:18443") << request.path;
  ASSERT_FALSE(op.Statistics().Requests().empty());
  EXPECT_EQ(op.Statistics().Requests()[0].host, "localhost:19443");

  // Second start: current, nothing downloaded.
  folder.Remove("Orlune.received.json");
  const size_t downloads = op.Config().Requests("/Orlune.pkg.exe").size() +
                           op.Config().Requests("/Tessel.pkg.exe").size();
  EXPECT_EQ(downloads, 2u);
  const LauncherRun second = folder.RunLauncher("{\"UC\":1}");
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_TRUE(second.dialogs.empty());
  EXPECT_TRUE(Has(folder.Log(), "已存储的配置校验通过 版本[1]")) << folder.Seen();
  EXPECT_EQ(op.Config().Requests("/Orlune.pkg.exe").size() +
                op.Config().Requests("/Tessel.pkg.exe").size(),
            downloads);
  EXPECT_EQ(op.Config().Requests("/config.json").size(), 1u);
  EXPECT_TRUE(folder.WaitForHallRecord(15000));
}

TEST_F(TrustedChain, ABadCertificateEndsWithTheDesignsMessageAndNothingInstalled) {
  ServeSigned(Data());
  for (ServerCertificate certificate :
       {ServerCertificate::Untrusted, ServerCertificate::WrongHost, ServerCertificate::Expired}) {
    SCOPED_TRACE(static_cast<int>(certificate));
    ASSERT_TRUE(front.Present(kTlsConfigPort, certificate));
    TrustedFolder folder;
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal(kBadData));
    const std::string log = folder.Log();
    EXPECT_TRUE(Has(log, "URLLoadData 请求失败[错误:12157 HTTP:0](安全连接失败) 地址:https://localhost:18443/starterUpdate.do?") ||
                Has(log, "URLLoadData 请求失败[错误:12175 HTTP:0](安全连接失败)"))
        << log;
    ExpectNothingInstalled(folder);
  }
  EXPECT_TRUE(op.Config().Requests().empty()) << "no request got through";
}

TEST_F(TrustedChain, RepliesWithoutAValidSignatureAreRefusedAndNothingIsStored) {
  ServeSigned(Data());
  // A reply whose own calls would end the launcher with 7 if they ran.
  Json::Value withCalls = ParseJsonText(ReplyText(DataText(Data())));
  withCalls["data"].append(R"({"op":"Quit","code":7})");
  const std::string reply = rt::StyledText(withCalls);
  const std::string good = signer.Header(reply, DocumentRole::ConfigReply);
  std::string altered = reply;
  altered[reply.find("\"version\" : 1") + 12] = '2';  // one byte: version 2
  const TestSigner other = TestSigner::NewKey();
  const struct {
    const char* name;
    endpoint::Reply reply;
    const char* logged;
  } cases[] = {
      {"no signature", Reply(reply, ""), "CheckConfig 签名校验失败[缺少签名]"},
      {"another key", Reply(reply, other.Header(reply, DocumentRole::ConfigReply)),
       "CheckConfig 签名校验失败[签名密钥不符]"},
      {"one byte altered", Reply(altered, good), "CheckConfig 签名校验失败[内容与签名不符]"},
      {"truncated signature", Reply(reply, good.substr(0, good.size() - 10)),
       "CheckConfig 签名校验失败[签名格式错误]"},
      {"the bytes signed without naming a kind", Reply(reply, signer.Header(reply)),
       "CheckConfig 签名校验失败[内容与签名不符]"},
      {"signed as an operation-call answer",
       Reply(reply, signer.Header(reply, DocumentRole::CallAnswer)),
       "CheckConfig 签名校验失败[文档类型不符] 签名类型[操作应答]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    op.ReplyWith(c.reply);
    TrustedFolder folder;
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1) << "the reply's own calls must not run";
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal(kBadData));
    EXPECT_EQ(Count(folder.Log(), c.logged), 1u) << folder.Seen();
    ExpectNothingInstalled(folder);
  }
  EXPECT_TRUE(op.Config().Requests("/config.json").empty());

  // The configuration data, refused the same way after a good reply.
  const std::string data = DataText(Data());
  std::string alteredData = data;
  alteredData[alteredData.find("Orlune.exe")] = 'o';
  const struct {
    const char* name;
    endpoint::Reply data;
    const char* logged;
  } dataCases[] = {
      {"data without signature", Reply(data, ""), "ConfigLoaded 签名校验失败[缺少签名]"},
      {"data altered", Reply(alteredData, signer.Header(data, DocumentRole::ConfigData)),
       "ConfigLoaded 签名校验失败[内容与签名不符]"},
  };
  ServeSigned(Data());
  for (const auto& c : dataCases) {
    SCOPED_TRACE(c.name);
    op.Config().Route("/config.json", c.data);
    TrustedFolder folder;
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal(kBadData));
    EXPECT_TRUE(Has(folder.Log(), c.logged)) << folder.Seen();
    ExpectNothingInstalled(folder);
  }
}

TEST_F(TrustedChain, PackagesThatDoNotMatchAreNeverRunAndTheVersionsStay) {
  testing_support::TempDir dir;
  const std::string original = testing_support::ProgramDir() + "Orlune.pkg.exe";
  std::string bytes;
  ASSERT_TRUE(testing_support::ReadFileBytes(original, bytes));
  std::string flipped = bytes;
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x20);
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.Path() + "\\flipped.exe", flipped));

  const struct {
    const char* name;
    std::function<void(Json::Value&)> arrange;
    const char* logged;
  } cases[] = {
      {"one byte altered",
       [&](Json::Value&) {
         endpoint::Reply file;
         file.file = dir.Path() + "\\flipped.exe";
         op.Config().Route("/Orlune.pkg.exe", file);
       },
       "更新包校验失败"},
      {"wrong size", [](Json::Value& data) { data["info"]["size"] = data["info"]["size"].asInt() + 1; },
       "期望大小:"},
      {"no sha256", [](Json::Value& data) { data["info"].removeMember("sha256"); }, "缺少sha256"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value data = Data();
    data.removeMember("platform");
    c.arrange(data);
    ServeSigned(data);
    TrustedFolder folder;
    folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":4})");
    const LauncherRun run = folder.RunLauncher();
    EXPECT_EQ(run.exitCode, -1);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], Fatal("大厅更新包下载失败,请检查网络或重新安装."));
    const std::string log = folder.Log();
    EXPECT_TRUE(Has(log, c.logged)) << log;
    if (std::string(c.name) == "one byte altered") {
      EXPECT_TRUE(Has(log, "期望sha256:" + FileDigest(original) + " 实际sha256:" +
                               FileDigest(dir.Path() + "\\flipped.exe")))
          << log;
    }
    EXPECT_FALSE(folder.Exists("Download\\Orlune.pkg.exe")) << "a refused package is removed";
    EXPECT_FALSE(folder.Exists("Orlune.exe"));
    EXPECT_FALSE(folder.Exists("Log\\updater.log")) << "the updater ran";
    EXPECT_EQ(folder.Record("CFG_ConfigInfo")["plazaversion"].asInt(), 4);
  }
}

TEST_F(TrustedChain, ALauncherUpdateWithAWrongHashLeavesTheRunningLauncherInPlace) {
  op.ServePackage("Lumora.pkg.exe");
  const std::string package = testing_support::ProgramDir() + "Lumora.pkg.exe";
  Json::Value update(Json::objectValue);
  update["code"] = 2;
  update["type"] = 1;
  update["version"] = 2015010101;
  update["url"] = Https("/Lumora.pkg.exe");
  update["sha256"] = std::string(64, '0');  // not the package's digest
  update["size"] = static_cast<Json::Int>(FileSize(package));
  StampFresh(update);
  const std::string text = rt::StyledText(update);
  op.ReplyWith(Reply(text, signer.Header(text, DocumentRole::LauncherUpdate)));
  TrustedFolder folder;
  const std::string before = folder.Read("Lumora.exe");
  const LauncherRun run = folder.RunLauncher("{\"UC\":3}");
  EXPECT_EQ(run.exitCode, -1);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], Fatal("更新下载失败,请检查网络或重新安装."));
  EXPECT_TRUE(Has(folder.Log(), "更新包校验失败")) << folder.Seen();
  EXPECT_EQ(op.Config().Requests("/Lumora.pkg.exe").size(), 1u);
  EXPECT_FALSE(folder.Exists("Download\\Lumora.pkg.exe"));
  EXPECT_FALSE(folder.Exists("Log\\updater.log")) << "the updater was started";
  EXPECT_TRUE(folder.Read("Lumora.exe") == before) << "the launcher was replaced";
  EXPECT_EQ(op.Config().Requests("/starterUpdate.do").size(), 1u) << "a launcher was restarted";
}

}  // namespace
}  // namespace e2e
