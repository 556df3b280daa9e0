// The loopback endpoint as test programs use it, checked with cpp-httplib's
// client: routes, the request log, each kind of faulty reply, files, and a
// prompt Stop with replies still hanging.
#include "httplib.h"  // first: it brings winsock2.h before windows.h

#include "loopback_endpoint.h"

#include <gtest/gtest.h>

#include <thread>

#include "test_support.h"

namespace endpoint {
namespace {

// What a client saw of one GET.
struct Seen {
  bool answered = false;  // a whole response arrived
  int status = 0;
  std::string body;
  std::string contentLength;
  std::string location;
};

Seen Get(uint16_t port, const std::string& target) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(5, 0);
  Seen seen;
  std::string received;
  auto result = client.Get(target.c_str(), [&](const char* data, size_t size) {
    received.append(data, size);
    return true;
  });
  seen.body = received;
  if (result) {
    seen.answered = true;
    seen.status = result->status;
    seen.contentLength = result->get_header_value("Content-Length");
    seen.location = result->get_header_value("Location");
  }
  return seen;
}

Reply Body(const std::string& body, int status = 200) {
  Reply r;
  r.status = status;
  r.body = body;
  return r;
}

TEST(LoopbackEndpoint, AnswersRoutesAndLogsRequests) {
  LoopbackEndpoint server;
  ASSERT_TRUE(server.Start());
  ASSERT_NE(server.Port(), 0);
  EXPECT_EQ(server.Url("/a?b=1"), "http://127.0.0.1:" + std::to_string(server.Port()) + "/a?b=1");
  server.Route("/a", Body("first"));
  server.Route("/a", Body("replaced", 201));
  server.Route("/echo", [](const Request& r) { return Body(r.method + " " + r.params.at("n")); });

  const DWORD before = GetTickCount();
  const struct {
    std::string target;
    int status;
    std::string body;
  } cases[] = {
      {"/a", 201, "replaced"},
      {"/a?x=1", 201, "replaced"},  // the query does not choose the route
      {"/echo?n=%C8%D5%20x&u=7", 200, "GET \xc8\xd5 x"},
      {"/unknown", 404, "not found"},
      {"/a/", 404, "not found"},
  };
  for (const auto& c : cases) {
    const Seen seen = Get(server.Port(), c.target);
    ASSERT_TRUE(seen.answered) << c.target;
    EXPECT_EQ(seen.status, c.status) << c.target;
    EXPECT_EQ(seen.body, c.body) << c.target;
  }
  const auto log = server.Requests();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].path, "/a");
  EXPECT_EQ(log[0].query, "");
  EXPECT_EQ(log[1].query, "x=1");
  EXPECT_EQ(log[2].method, "GET");
  EXPECT_EQ(log[2].query, "n=%C8%D5%20x&u=7");  // raw
  EXPECT_EQ(log[2].params.at("n"), "\xc8\xd5 x");  // decoded
  EXPECT_EQ(log[2].params.at("u"), "7");
  EXPECT_EQ(log[3].path, "/unknown");  // unknown paths are logged too
  for (size_t i = 0; i < log.size(); ++i) {
    EXPECT_GE(static_cast<LONG>(log[i].tick - before), 0);
    if (i > 0) {
      EXPECT_GE(static_cast<LONG>(log[i].tick - log[i - 1].tick), 0);
    }
  }
  EXPECT_EQ(server.Requests("/a").size(), 2u);
  EXPECT_TRUE(server.WaitForRequests("/a", 2, 0));
  const DWORD start = GetTickCount();
  EXPECT_FALSE(server.WaitForRequests("/a", 3, 300));
  EXPECT_GE(GetTickCount() - start, 250u);
}

TEST(LoopbackEndpoint, RefusesATakenPortAndRestartsAfterStop) {
  LoopbackEndpoint first;
  ASSERT_TRUE(first.Start());
  LoopbackEndpoint second;
  EXPECT_FALSE(second.Start(first.Port()));
  EXPECT_FALSE(first.Start());  // already running
  const uint16_t port = first.Port();
  first.Stop();
  EXPECT_FALSE(Get(port, "/").answered);
  ASSERT_TRUE(second.Start(port));  // free again
  EXPECT_EQ(second.Port(), port);
  EXPECT_EQ(Get(port, "/").status, 404);
}

TEST(LoopbackEndpoint, SendsEachKindOfFaultyReply) {
  LoopbackEndpoint server;
  ASSERT_TRUE(server.Start());
  Reply shortBody = Body("abc");
  shortBody.declaredLength = 10;
  Reply dropped = Body(std::string(300000, 'd'));
  dropped.dropAfterBytes = 1000;
  Reply redirect;
  redirect.redirectTo = "/elsewhere?x=1";
  Reply chunked = Body(std::string(3000000, 'c'));
  chunked.chunked = true;
  Reply typed = Body("{}", 500);
  typed.contentType = "application/json";
  server.Route("/short", shortBody);
  server.Route("/dropped", dropped);
  server.Route("/redirect", redirect);
  server.Route("/chunked", chunked);
  server.Route("/typed", typed);

  Seen seen = Get(server.Port(), "/short");
  EXPECT_FALSE(seen.answered);  // the connection closed before the announced end
  EXPECT_EQ(seen.body, "abc");

  seen = Get(server.Port(), "/dropped");
  EXPECT_FALSE(seen.answered);
  EXPECT_EQ(seen.body.size(), 1000u);

  seen = Get(server.Port(), "/redirect");
  ASSERT_TRUE(seen.answered);
  EXPECT_EQ(seen.status, 302);
  EXPECT_EQ(seen.location, "/elsewhere?x=1");

  seen = Get(server.Port(), "/chunked");
  ASSERT_TRUE(seen.answered);
  EXPECT_EQ(seen.contentLength, "");
  EXPECT_EQ(seen.body.size(), 3000000u);

  seen = Get(server.Port(), "/typed");
  ASSERT_TRUE(seen.answered);
  EXPECT_EQ(seen.status, 500);
  EXPECT_EQ(seen.body, "{}");
}

TEST(LoopbackEndpoint, DelaysAndPacesReplies) {
  LoopbackEndpoint server;
  ASSERT_TRUE(server.Start());
  Reply delayed = Body("late");
  delayed.delayMs = 400;
  Reply paced = Body(std::string(200000, 'p'));
  paced.bytesPerSecond = 400000;  // about half a second
  server.Route("/delayed", delayed);
  server.Route("/paced", paced);
  const struct {
    const char* target;
    DWORD atLeast;
  } cases[] = {{"/delayed", 380}, {"/paced", 400}};
  for (const auto& c : cases) {
    const DWORD start = GetTickCount();
    const Seen seen = Get(server.Port(), c.target);
    const DWORD took = GetTickCount() - start;
    EXPECT_TRUE(seen.answered) << c.target;
    EXPECT_GE(took, c.atLeast) << c.target;
    EXPECT_LT(took, c.atLeast + 3000) << c.target;
  }
}

TEST(LoopbackEndpoint, StreamsAFileAsItIsOnDisk) {
  testing_support::TempDir dir;
  std::string bytes(3 * 1024 * 1024 + 123, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 31) ^ (i >> 11));
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("f.bin"), bytes));
  LoopbackEndpoint server;
  ASSERT_TRUE(server.Start());
  Reply file;
  file.file = dir.File("f.bin");
  file.body = "ignored when a file is given";
  Reply cut = file;
  cut.dropAfterBytes = 1500000;
  Reply missing;
  missing.file = dir.File("missing.bin");
  server.Route("/f", file);
  server.Route("/cut", cut);
  server.Route("/missing", missing);

  Seen seen = Get(server.Port(), "/f");
  ASSERT_TRUE(seen.answered);
  EXPECT_EQ(seen.contentLength, std::to_string(bytes.size()));
  EXPECT_TRUE(seen.body == bytes);

  seen = Get(server.Port(), "/cut");
  EXPECT_FALSE(seen.answered);
  EXPECT_TRUE(seen.body == bytes.substr(0, 1500000));

  seen = Get(server.Port(), "/missing");
  EXPECT_EQ(seen.status, 500);
}

TEST(LoopbackEndpoint, StopsPromptlyWithRepliesHanging) {
  testing_support::TempDir dir;
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("big.bin"), std::string(8 << 20, 'b')));
  auto server = std::make_unique<LoopbackEndpoint>();
  ASSERT_TRUE(server->Start());
  Reply hang;
  hang.hang = true;
  Reply slow;
  slow.file = dir.File("big.bin");
  slow.bytesPerSecond = 100000;
  server->Route("/hang", hang);
  server->Route("/slow", slow);
  const uint16_t port = server->Port();
  std::vector<Seen> seen(4);
  std::vector<std::thread> clients;
  for (size_t i = 0; i < seen.size(); ++i) {
    clients.emplace_back([&, i] { seen[i] = Get(port, i % 2 ? "/slow" : "/hang"); });
  }
  ASSERT_TRUE(server->WaitForRequests("/hang", 2, 5000));
  ASSERT_TRUE(server->WaitForRequests("/slow", 2, 5000));
  EXPECT_EQ(server->ActiveReplies(), 4);
  const DWORD start = GetTickCount();
  server.reset();  // the destructor stops it
  EXPECT_LT(GetTickCount() - start, 2000u);
  for (auto& t : clients) t.join();
  for (const Seen& s : seen) EXPECT_FALSE(s.answered);
}

}  // namespace
}  // namespace endpoint
