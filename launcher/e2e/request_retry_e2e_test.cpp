// How often the launcher's requests reach the operator when they fail, end
// to end (the launcher without keys, from a Chinese-named program folder):
// the statistics and registration requests count something on the server
// and go out once, whatever happens; the configuration request goes out
// again only when the connection ended before any answer (twice more),
// never after an answer.
#include <gtest/gtest.h>

#include "json_util.h"
#include "launcher_folder.h"

namespace e2e {
namespace {

const std::string kTail = "\n\r请联系客服解决问题.\n\r400-1357-246(工作时间 8:00-晚21:00)";

endpoint::Reply Ended() {
  endpoint::Reply reply;
  reply.endConnection = true;  // the request arrives, the connection ends without an answer
  return reply;
}

TEST(Requests, ReportsGoOutOnceAndTheConfigurationAgainOnlyBeforeAnAnswer) {
  const struct {
    const char* name;
    const char* path;       // of the endpoint that fails
    bool statistics;        // on the statistics endpoint
    endpoint::Reply reply;
    size_t sent;
    bool startEnds;         // the start ends with the configuration's failure message
  } cases[] = {
      {"statistics, connection ended", "/plugins/stat/run", true, Ended(), 1, false},
      {"statistics, 500", "/plugins/stat/run", true, StatusReply(500), 1, false},
      {"registration, connection ended", "/plugins/did/reg", true, Ended(), 1, false},
      {"configuration, connection ended", "/starterUpdate.do", false, Ended(), 3, true},
      {"configuration, 500", "/starterUpdate.do", false, StatusReply(500), 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Operator op;
    ASSERT_TRUE(op.Start());
    op.ServeConfigData(JsonText(ConfigData(op, 0, 5, Json::Value())));
    op.ReplyWith(op.ConfigReply(1));
    endpoint::LoopbackEndpoint& failing = c.statistics ? op.Statistics() : op.Config();
    failing.Route(c.path, c.reply);
    LauncherFolder folder;  // a first start: the device registers as well
    ASSERT_TRUE(folder.Add("Orlune.exe"));
    folder.SetRecord("CFG_ConfigInfo", R"({"plazaversion":5})");
    const LauncherRun run = folder.RunLauncher();
    if (c.startEnds) {
      EXPECT_EQ(run.exitCode, -1);
      ASSERT_EQ(run.dialogs.size(), 1u);
      EXPECT_EQ(run.dialogs[0], "CheckConfig 无效的数据!" + kTail);
    } else {
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_TRUE(run.dialogs.empty());
      EXPECT_TRUE(folder.WaitForHallRecord(15000));
    }
    // The failing request's tries, counted where they arrive.
    EXPECT_EQ(failing.Requests(c.path).size(), c.sent);
    // The failure is logged once, with the system's error or the status.
    EXPECT_EQ(Count(folder.Log(), "请求失败["), 1u) << folder.Log();
  }
}

}  // namespace
}  // namespace e2e
