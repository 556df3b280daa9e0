// Data loads (kind 0) through Download.dll against the loopback endpoint:
// every case ends with exactly one 1087 record, carrying the body only when
// the whole body of a 2xx answer arrived within the cap.
#include <gtest/gtest.h>

#include "loopback_endpoint.h"
#include "service_harness.h"
#include "transfer_rules.h"

namespace download_test {
namespace {

constexpr DWORD kReceiveMs = kTestReceiveMs;

class DataLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(service.IsValid());
  }

  uint32_t Load(const std::string& url) {
    const DownloadTaskParams p = TaskRecord(url, "C:\\unused");
    return service->CreateTask(kTaskLoadData, &p, window.Handle());
  }

  endpoint::LoopbackEndpoint server;
  RecordWindow window;
  LoadedService service;
};


TEST_F(DataLoadTest, EachFaultEndsWithOneEmptyRecordAndSuccessCarriesTheBody) {
  const std::string binary("{\"code\":1,\"\xc8\xd5\":\"\x9c\x5c\"}\0\r\n\xff", 31);
  const std::string capped(static_cast<size_t>(download::kDataLoadCap), 'c');

  endpoint::Reply reset = Body(std::string(200000, 'r'));
  reset.dropAfterBytes = 70000;
  endpoint::Reply shortBody = Body("abc");
  shortBody.declaredLength = 10;
  endpoint::Reply hang;
  hang.hang = true;
  endpoint::Reply slow = Body("late but in time");
  slow.delayMs = 500;
  endpoint::Reply chunked = Body("no length given");
  chunked.chunked = true;
  endpoint::Reply chunkedOver = Body(capped + "x");
  chunkedOver.chunked = true;
  endpoint::Reply toOk;
  toOk.redirectTo = "/ok";
  endpoint::Reply loop;
  loop.redirectTo = "/loop";
  server.Route("/ok", Body("hello"));
  server.Route("/binary", Body(binary));
  server.Route("/empty", Body(""));
  server.Route("/404", Body("missing", 404));
  server.Route("/500", Body("broken", 500));
  server.Route("/204", Body("", 204));
  server.Route("/reset", reset);
  server.Route("/short", shortBody);
  server.Route("/hang", hang);
  server.Route("/slow", slow);
  server.Route("/cap", Body(capped));
  server.Route("/over", Body(capped + "x"));
  server.Route("/chunked", chunked);
  server.Route("/chunked-over", chunkedOver);
  server.Route("/to-ok", toOk);
  server.Route("/loop", loop);
  // /chain?n=N redirects N times before answering.
  server.Route("/chain", [](const endpoint::Request& r) {
    const int n = std::stoi(r.params.at("n"));
    endpoint::Reply reply = Body("end of chain");
    if (n > 0) reply.redirectTo = "/chain?n=" + std::to_string(n - 1);
    return reply;
  });
  const std::string refused = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/x";

  const struct {
    const char* name;
    std::string url;
    std::string data;  // expected; empty for a failure
    uint32_t status = 0;  // the HTTP status the 1088 record reports (0: not checked)
    bool systemError = false;  // it reports a system error
  } cases[] = {
      {"ok", server.Url("/ok"), "hello", 200},
      {"binary and code page 936 bytes", server.Url("/binary"), binary},
      {"empty body", server.Url("/empty"), ""},
      {"unknown path (404)", server.Url("/nothing-here"), "", 404},
      {"404 with a body", server.Url("/404"), ""},
      {"500 with a body", server.Url("/500"), "", 500},
      {"204 no content", server.Url("/204"), ""},
      {"refused connection", refused, "", 0, true},
      {"reset mid-body", server.Url("/reset"), ""},
      {"body shorter than Content-Length", server.Url("/short"), ""},
      {"hang past the time-out", server.Url("/hang"), "", 0, true},
      {"delay within the time-out", server.Url("/slow"), "late but in time"},
      {"exactly the cap", server.Url("/cap"), capped},
      {"oversized (Content-Length)", server.Url("/over"), ""},
      {"chunked", server.Url("/chunked"), "no length given"},
      {"oversized (chunked)", server.Url("/chunked-over"), ""},
      {"redirect followed", server.Url("/to-ok"), "hello"},
      {"redirect loop", server.Url("/loop"), ""},
      {"redirects up to the limit", server.Url("/chain?n=5"), "end of chain"},
      {"one redirect beyond the limit", server.Url("/chain?n=6"), ""},
      {"not an http address", "ftp://127.0.0.1/x", ""},
      {"no host", "http:///x", ""},
  };
  std::vector<uint32_t> tasks;
  for (const auto& c : cases) {
    tasks.push_back(Load(c.url));
    EXPECT_NE(tasks.back(), 0u) << c.name;
  }
  ASSERT_TRUE(window.WaitForEnds(tasks, 30000));
  PumpFor(200);  // nothing else may follow
  for (size_t i = 0; i < tasks.size(); ++i) {
    const auto records = window.RecordsOf(tasks[i]);
    ASSERT_EQ(records.size(), 1u) << cases[i].name;
    EXPECT_EQ(records[0].id, kLoadDataNoticeId) << cases[i].name;
    EXPECT_EQ(records[0].bytes.size(), 16 + cases[i].data.size()) << cases[i].name;
    EXPECT_TRUE(records[0].Data() == cases[i].data) << cases[i].name;
    // Every task tells what became of its request, just before its end.
    const Details details = window.DetailsOf(tasks[i]);
    EXPECT_TRUE(details.present) << cases[i].name;
    if (cases[i].status != 0) {
      EXPECT_EQ(details.httpStatus, cases[i].status) << cases[i].name;
    }
    if (cases[i].systemError) {
      EXPECT_NE(details.error, 0u) << cases[i].name;
      EXPECT_EQ(details.httpStatus, 0u) << cases[i].name;
    } else if (!cases[i].data.empty()) {
      EXPECT_EQ(details.error, 0u) << cases[i].name;
    }
    EXPECT_TRUE(details.signature.empty()) << cases[i].name;
  }
  // Task ids are distinct.
  for (size_t i = 0; i < tasks.size(); ++i)
    for (size_t j = i + 1; j < tasks.size(); ++j) EXPECT_NE(tasks[i], tasks[j]);
}

TEST_F(DataLoadTest, AddressBytesReachTheServerAsSent) {
  server.Route("/q", Body("q"));
  // Code page 936 bytes and a space are escaped; existing escapes are kept.
  const uint32_t task = Load(server.Url("/q?u=123&n=\xc8\xd5 x&v=%41%2B"));
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(window.WaitForEnds({task}, 10000));
  EXPECT_EQ(window.RecordsOf(task)[0].Data(), "q");
  const auto requests = server.Requests("/q");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].query, "u=123&n=%C8%D5%20x&v=%41%2B");
  EXPECT_EQ(requests[0].params.at("n"), "\xc8\xd5 x");
  EXPECT_EQ(requests[0].params.at("v"), "A+");
}

}  // namespace
}  // namespace download_test
