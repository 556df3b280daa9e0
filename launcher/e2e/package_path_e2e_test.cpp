// The package path of the trusted launcher end to end (LumoraTrusted.exe over
// HTTPS through the loopback TLS front, from a Chinese-named program folder):
// one TLS connection per host and start, a package answer larger than its
// signed size stopped at that size, and a self-update that nobody can swap
// between the launcher's check and the updater's copy.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scoped_handle.h"
#include "test_signer.h"
#include "test_signing_key.inc"
#include "tls_front_control.h"
#include "trusted_e2e.h"

namespace e2e {
namespace {

using testing_support::kTlsConfigPort;
using testing_support::kTlsStatisticsPort;
using testing_support::TestSigner;
using testing_support::TlsFront;
using testing_support::WaitUntil;
using trust::DocumentRole;

std::string Https(const std::string& path) { return TlsFront::Url(kTlsConfigPort, path); }

std::string BinBytes(const std::string& name) {
  return FileBytes(testing_support::ProgramDir() + name);
}

endpoint::Reply Signed(const std::string& body, const TestSigner& signer, DocumentRole role) {
  return SignedReply(body, signer.Header(body, role));
}

class TrustedPackages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlsFront::Running()) << "the TLS front is not running (CTest fixture tls_front)";
    ASSERT_TRUE(signer.Valid());
    ASSERT_TRUE(op.Start());
  }

  // The entry of a package at "/<name>" over HTTPS, with its digest and size.
  Json::Value Package(const std::string& name, int version, const std::string& bytes) {
    Json::Value entry(Json::objectValue);
    entry["version"] = version;
    entry["url"] = Https("/" + name);
    entry["sha256"] = Sha256Text(bytes);
    entry["size"] = static_cast<Json::Int64>(bytes.size());
    return entry;
  }

  // Signed configuration 1 with `data`, the reply fresh and naming the
  // data's digest and size, as the publishing tool writes them.
  void ServeSigned(Json::Value data) {
    data["version"] = 1;
    const std::string text = rt::StyledText(data);
    Json::Value reply(Json::objectValue);
    reply["code"] = 1;
    reply["version"] = 1;
    reply["url"] = Https("/config.json");
    reply["sha256"] = Sha256Text(text);
    reply["size"] = static_cast<Json::Int>(text.size());
    StampFresh(reply);
    op.ReplyWith(Signed(rt::StyledText(reply), signer, DocumentRole::ConfigReply));
    op.Config().Route("/config.json", Signed(text, signer, DocumentRole::ConfigData));
  }

  Operator op;
  TlsFront front;
  const TestSigner signer = TestSigner::FromKeyPair(kTestSigningKey);
};

// Every request of a start to a host goes out on one kept-alive TLS
// connection: the configuration reply, its data and both packages on one;
// the statistics on one (a first start's registration, sent at the same
// moment as the statistics, may take a second).
TEST_F(TrustedPackages, AStartMakesOneTlsConnectionPerHost) {
  Json::Value data(Json::objectValue);
  op.ServePackage("Tessel.pkg.exe");
  op.ServePackage("Orlune.pkg.exe");
  data["platform"] = Package("Tessel.pkg.exe", 3, BinBytes("Tessel.pkg.exe"));
  data["info"] = Package("Orlune.pkg.exe", 5, BinBytes("Orlune.pkg.exe"));
  data["info"]["file"] = "Orlune.exe";
  data["info"]["params"] = "{\"lifetime\":500}";
  ServeSigned(data);
  LauncherFolder folder;
  ASSERT_TRUE(folder.Add("LumoraTrusted.exe", "Lumora.exe"));

  for (const bool first : {true, false}) {
    const size_t logBefore = TlsFront::Log().size();
    const size_t requestsBefore = op.Config().Requests().size();
    const LauncherRun run = folder.RunLauncher("{\"UC\":1}");
    EXPECT_EQ(run.exitCode, 0) << first;
    EXPECT_TRUE(run.dialogs.empty()) << first;
    ASSERT_TRUE(folder.WaitForHallRecord(15000)) << first;
    folder.Remove("Orlune.received.json");
    const std::string part = TlsFront::Log().substr(logBefore);
    EXPECT_EQ(op.Config().Requests().size() - requestsBefore, first ? 4u : 1u) << part;
    EXPECT_EQ(TlsFront::Accepted(part, kTlsConfigPort), 1u) << part;
    if (first) {
      EXPECT_GE(TlsFront::Accepted(part, kTlsStatisticsPort), 1u) << part;
      EXPECT_LE(TlsFront::Accepted(part, kTlsStatisticsPort), 2u) << part;
    } else {
      EXPECT_EQ(TlsFront::Accepted(part, kTlsStatisticsPort), 1u) << part;
    }
    EXPECT_EQ(Count(folder.Log(), "更新包校验通过"), first ? 2u : 0u) << folder.Log();
  }
}

// An answer of 64 MiB for a signed size of 8 MB: the download stops as soon
// as it passes the size (nothing beyond it written, no partial file kept for
// a later start), and the start ends with the download-failed message.
TEST_F(TrustedPackages, APackageAnswerLargerThanSignedStopsAtTheSignedSize) {
  testing_support::TempDir dir;
  const std::string big = std::string(64 * 1024 * 1024, 'B');
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("big.bin"), big));
  endpoint::Reply oversized;
  oversized.file = dir.File("big.bin");
  oversized.chunked = true;  // no Content-Length to refuse it by: the body itself passes the size
  op.Config().Route("/Orlune.pkg.exe", oversized);
  Json::Value data(Json::objectValue);
  data["info"] = Package("Orlune.pkg.exe", 5, std::string(8000000, 'B'));
  ServeSigned(data);
  LauncherFolder folder;
  ASSERT_TRUE(folder.Add("LumoraTrusted.exe", "Lumora.exe"));
  folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":4})");
  const LauncherRun run = folder.RunLauncher();
  EXPECT_EQ(run.exitCode, -1);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], Fatal("大厅更新包下载失败,请检查网络或重新安装."));
  EXPECT_TRUE(Has(folder.Log(), "URLDownload 请求失败[错误:223")) << folder.Log();
  EXPECT_EQ(op.Config().Requests("/Orlune.pkg.exe").size(), 1u);
  EXPECT_LT(op.Config().BytesSent(), 24u * 1024 * 1024) << "the transfer was stopped";
  EXPECT_FALSE(folder.Exists("Download\\Orlune.pkg.exe"));
  EXPECT_TRUE(testing_support::FolderNames(folder.File("Download")).empty())
      << "no partial file is kept";
  EXPECT_FALSE(folder.Exists("Log\\updater.log")) << "the updater ran";
  EXPECT_EQ(folder.Record("CFG_ConfigInfo")["plazaversion"].asInt(), 4);
}

// The launcher checks its update package and ends; its hold ends with it.
// The updater checks the package itself; the old launcher's file is still
// held, so its copy has to wait, and meanwhile another program writes the
// package. What takes the launcher's place is what the updater checked, never
// the other program's bytes. (An updater that checked the package and then
// copied it by name would copy the changed one.)
TEST_F(TrustedPackages, ASelfUpdateCopiesOnlyWhatTheUpdaterVerified) {
  const std::string package = BinBytes("Lumora.pkg.exe");
  op.ServePackage("Lumora.pkg.exe");
  op.ServeConfigData(JsonText(ConfigData(op, 0, 5, Json::Value())));
  Json::Value update(Json::objectValue);
  update["code"] = 2;
  update["type"] = 1;
  update["version"] = 2015010101;
  update["url"] = Https("/Lumora.pkg.exe");
  update["sha256"] = Sha256Text(package);
  update["size"] = static_cast<Json::Int64>(package.size());
  StampFresh(update);
  const endpoint::Reply ordered =
      Signed(rt::StyledText(update), signer, DocumentRole::LauncherUpdate);
  endpoint::Reply proceed;  // what the new (keyless) launcher is answered
  proceed.body = op.ConfigReply(1);
  auto asked = std::make_shared<LONG>(0);
  op.ReplyWith([=](const endpoint::Request&) {
    return InterlockedIncrement(asked.get()) == 1 ? ordered : proceed;
  });
  LauncherFolder folder;
  ASSERT_TRUE(folder.Add("LumoraTrusted.exe", "Lumora.exe"));
  ASSERT_TRUE(folder.Add("Orlune.exe"));
  folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":5})");
  const std::string before = folder.Read("Lumora.exe");
  const std::string packagePath = folder.File("Download\\Lumora.pkg.exe");

  // The old launcher's file, held (readable, not replaceable) until the
  // package has been written by the other program.
  ScopedHandle oldLauncher(CreateFileA(folder.File("Lumora.exe").c_str(), GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(oldLauncher);
  const LauncherRun run = folder.RunLauncher("{\"UC\":3}");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_TRUE(Has(folder.Log(), "更新包校验通过")) << folder.Log();
  WaitUntil([&] { return Has(folder.Read("Log\\updater.log"), "更新包校验通过"); }, 30000);
  ASSERT_TRUE(Has(folder.Read("Log\\updater.log"), "更新包校验通过"))
      << folder.Read("Log\\updater.log");
  Process swapper;
  ASSERT_TRUE(swapper.Start("\"" + testing_support::ProgramDir() + "swap_file.exe\" \"" +
                                packagePath + "\" 10000",
                            folder.Path()));
  const LauncherRun swapped = swapper.Finish(30000);
  EXPECT_EQ(swapped.exitCode, 0) << "the package could be written once the launcher ended";
  std::string now;
  ASSERT_TRUE(testing_support::ReadFileBytes(packagePath, now));
  EXPECT_EQ(now.compare(0, 8, "SWAPPED "), 0) << "the package was changed after the check";
  oldLauncher.Close();

  // The updater copies and starts the new launcher, which asks again.
  ASSERT_TRUE(op.Config().WaitForRequests("/starterUpdate.do", 2, 30000));
  const std::string updaterLog = folder.Read("Log\\updater.log");
  EXPECT_TRUE(Has(updaterLog, "更新包校验通过")) << updaterLog;
  EXPECT_TRUE(Has(updaterLog, "复制成功")) << updaterLog;
  const std::string installed = folder.Read("Lumora.exe");
  EXPECT_TRUE(installed == package) << "the launcher is the signed package ("
                                    << installed.size() << " bytes)";
  EXPECT_FALSE(installed == before);
  EXPECT_EQ(installed.find("SWAPPED BY ANOTHER PROGRAM"), std::string::npos);
  EXPECT_FALSE(folder.Exists("Lumora.exe.new"));
  folder.WaitForHallRecord(30000);
  WaitUntil([] { return FindWindowA("QZ_Lumo_U3", nullptr) == nullptr; }, 15000);
}

}  // namespace
}  // namespace e2e
