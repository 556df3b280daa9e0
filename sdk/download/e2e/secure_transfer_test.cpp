// Download.dll over HTTPS, through the loopback operator's TLS front
// (https://localhost:18443 in front of the plain port 18090, where this test's
// endpoint answers): certificates are checked, every refusal is a failed task
// with its system error in the 1088 record, and the signature header of an
// answer reaches the client unchanged.
#include <gtest/gtest.h>

#include "loopback_endpoint.h"
#include "service_harness.h"
#include "test_support.h"
#include "tls_front_control.h"

namespace download_test {
namespace {

using testing_support::kTlsConfigPort;
using testing_support::ServerCertificate;
using testing_support::TlsFront;

// 12157 under Wine; Windows may also answer 12175. Both mean the same here.
bool SecureChannelRefused(uint32_t error) { return error == 12157 || error == 12175; }

class SecureTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TlsFront::Running()) << "the TLS front is not running (CTest fixture tls_front)";
    ASSERT_TRUE(server.Start(18090));
    ASSERT_TRUE(service.IsValid());
    endpoint::Reply signedReply;
    signedReply.body = "{\"code\":1}";
    signedReply.headers.emplace_back("X-Lumora-Signature", kSignature);
    server.Route("/signed", signedReply);
    endpoint::Reply plain;
    plain.body = "plain";
    server.Route("/plain", plain);
    endpoint::Reply huge;
    huge.body = "x";
    // Long, but within the 1460 bytes Wine 8's WinHTTP reads of a header line.
    huge.headers.emplace_back("X-Lumora-Signature", std::string(1200, 'a'));
    server.Route("/long-header", huge);
    endpoint::Reply package;
    package.body = std::string(300000, 'p');
    package.headers.emplace_back("X-Lumora-Signature", kSignature);
    server.Route("/package", package);
    endpoint::Reply toPlain;
    toPlain.redirectTo = server.Url("/plain");  // http://127.0.0.1:18090/plain
    server.Route("/to-plain", toPlain);
  }

  uint32_t Load(const std::string& url) {
    const DownloadTaskParams p = TaskRecord(url, "C:\\unused");
    return service->CreateTask(kTaskLoadData, &p, window.Handle());
  }
  uint32_t Download(const std::string& url, const std::string& folder, const std::string& name) {
    const DownloadTaskParams p = TaskRecord(url, folder, name);
    return service->CreateTask(kTaskDownloadFile, &p, window.Handle());
  }
  std::string DataOf(uint32_t task) const {
    const auto records = window.RecordsOf(task);
    return records.size() == 1 ? records[0].Data() : "<" + std::to_string(records.size()) + ">";
  }

  const std::string kSignature = "k=0011223344556677; s=MAYCAQUCAQc=";
  endpoint::LoopbackEndpoint server;
  RecordWindow window;
  LoadedService service;
  TlsFront front;
};

TEST_F(SecureTransfer, AnswersComeOverHttpsWithTheirSignatureHeader) {
  const uint32_t signedLoad = Load(TlsFront::Url(kTlsConfigPort, "/signed"));
  const uint32_t plainLoad = Load(TlsFront::Url(kTlsConfigPort, "/plain"));
  const uint32_t longLoad = Load(TlsFront::Url(kTlsConfigPort, "/long-header"));
  testing_support::TempDir dir(testing_support::TempName::kChinese);
  const uint32_t download = Download(TlsFront::Url(kTlsConfigPort, "/package"), dir.Path(), "包.exe");
  ASSERT_TRUE(window.WaitForEnds({signedLoad, plainLoad, longLoad, download}, 30000));

  EXPECT_EQ(DataOf(signedLoad), "{\"code\":1}");
  Details details = window.DetailsOf(signedLoad);
  ASSERT_TRUE(details.present);
  EXPECT_EQ(details.error, 0u);
  EXPECT_EQ(details.httpStatus, 200u);
  EXPECT_EQ(details.signature, kSignature);

  EXPECT_EQ(DataOf(plainLoad), "plain");
  EXPECT_TRUE(window.DetailsOf(plainLoad).present);
  EXPECT_TRUE(window.DetailsOf(plainLoad).signature.empty());
  EXPECT_EQ(window.DetailsOf(longLoad).signature, std::string(1200, 'a'));

  const auto records = window.RecordsOf(download);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().Notice().status, kDownloadFinished);
  std::string file;
  EXPECT_TRUE(testing_support::ReadFileBytes(dir.Path() + "\\包.exe", file));
  EXPECT_EQ(file.size(), 300000u);
  EXPECT_EQ(window.DetailsOf(download).signature, kSignature);
  // Every answer went through the TLS front to this endpoint.
  EXPECT_EQ(server.Requests("/package").size(), 1u);
}

TEST_F(SecureTransfer, EveryCertificateProblemFailsTheTaskWithItsError) {
  testing_support::TempDir dir;
  const struct {
    const char* name;
    ServerCertificate certificate;
    std::string host;
  } cases[] = {
      {"expired", ServerCertificate::Expired, "localhost"},
      {"for another host name", ServerCertificate::WrongHost, "localhost"},
      {"from a CA nobody trusts", ServerCertificate::Untrusted, "localhost"},
      // The good certificate names localhost only, not the address.
      {"good, but asked for by address", ServerCertificate::Good, "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(front.Present(kTlsConfigPort, c.certificate));
    const std::string base = "https://" + c.host + ":" + std::to_string(kTlsConfigPort);
    const uint32_t load = Load(base + "/signed");
    const uint32_t download = Download(base + "/package", dir.Path(), "p.exe");
    ASSERT_TRUE(window.WaitForEnds({load, download}, 30000));
    EXPECT_EQ(DataOf(load), "");
    const Details loadDetails = window.DetailsOf(load);
    EXPECT_TRUE(loadDetails.present);
    EXPECT_TRUE(SecureChannelRefused(loadDetails.error)) << loadDetails.error;
    EXPECT_EQ(loadDetails.httpStatus, 0u);
    EXPECT_TRUE(loadDetails.signature.empty());
    EXPECT_EQ(window.RecordsOf(download).back().Notice().status, kDownloadFailed);
    EXPECT_TRUE(SecureChannelRefused(window.DetailsOf(download).error));
    std::string nothing;
    EXPECT_FALSE(testing_support::ReadFileBytes(dir.Path() + "\\p.exe", nothing));
  }
  // Nothing got through to the endpoint.
  EXPECT_TRUE(server.Requests("/signed").empty());
  EXPECT_TRUE(server.Requests("/package").empty());
}

TEST_F(SecureTransfer, ARedirectFromHttpsToHttpIsRefused) {
  const uint32_t load = Load(TlsFront::Url(kTlsConfigPort, "/to-plain"));
  ASSERT_TRUE(window.WaitForEnds({load}, 30000));
  EXPECT_EQ(DataOf(load), "");
  EXPECT_TRUE(server.Requests("/plain").empty());
}

}  // namespace
}  // namespace download_test
