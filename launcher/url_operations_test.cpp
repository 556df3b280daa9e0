#include "url_operations.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "bcrypt_trust.h"
#include "json_util.h"
#include "launcher_app.h"
#include "test_support.h"

namespace {

// Stands in for the main window: records the tasks it is given.
class FakeTasks : public DownloadTasks {
 public:
  uint32_t CreateTask(uint32_t kind, const DownloadTaskParams& params,
                      const DownloadTaskOptions* given) override {
    kinds.push_back(kind);
    records.push_back(params);
    DownloadTaskOptions none{};
    options.push_back(given != nullptr ? *given : none);
    return nextId == 0 ? 0 : nextId++;
  }
  DownloadClient& Client() override { return client; }

  uint32_t nextId = 40;
  std::vector<uint32_t> kinds;
  std::vector<DownloadTaskParams> records;
  std::vector<DownloadTaskOptions> options;  // flags 0: none given
  std::vector<std::string> posted;
  DownloadClient client{[this](const std::string& t) { posted.push_back(t); }, [] { return 0; }};
};

class UrlOperations : public ::testing::Test {
 protected:
  void SetUp() override { SetDownloadTasks(&tasks); }
  void TearDown() override { SetDownloadTasks(nullptr); }
  static Json::Value Call(const char* text) {
    Json::Value v;
    EXPECT_TRUE(rt::ParseJson(text, v)) << text;
    return v;
  }
  FakeTasks tasks;
};

}  // namespace

TEST(UrlOperationRules, DownloadFolder) {
  struct Case {
    const char* path;
    const char* folder;
  } cases[] = {
      {"", "C:\\游戏淺"},
      {"Download", "C:\\游戏淺\\Download"},
      {"下载淺\\sub", "C:\\游戏淺\\下载淺\\sub"},
      {"..\\other", "C:\\other"},
      {"D:\\abs\\淺", "D:\\abs\\淺"},
  };
  for (const Case& c : cases) EXPECT_EQ(DownloadFolder(c.path, "C:\\游戏淺"), c.folder) << c.path;
}

TEST(UrlOperationRules, TextsMustFitTheirFieldsWithTheTerminator) {
  DownloadCallArgs args;
  args.url = "http://127.0.0.1/x";
  args.name = "Tessel.pkg.exe";
  args.text = std::string(127, 'a');
  DownloadTaskParams params;
  std::string field;
  ASSERT_TRUE(FillDownloadParams(args, "C:\\d", params, field));
  EXPECT_EQ(std::strlen(params.text), 127u);
  EXPECT_STREQ(params.name, "Tessel.pkg.exe");
  EXPECT_STREQ(params.folder, "C:\\d");

  struct Case {
    std::string text, name, folder, url, field;
  } cases[] = {
      {std::string(128, 'a'), "n", "f", "u", "text"},
      {"t", std::string(260, 'n'), "f", "u", "name"},
      {"t", "n", std::string(260, 'f'), "u", "path"},
      {"t", "n", "f", std::string(2084, 'u'), "url"},
      {"t", std::string("a\0b", 3), "f", "u", "name"},  // would end early on the other side
  };
  for (const Case& c : cases) {
    DownloadCallArgs a;
    a.text = c.text;
    a.name = c.name;
    a.url = c.url;
    EXPECT_FALSE(FillDownloadParams(a, c.folder, params, field));
    EXPECT_EQ(field, c.field);
  }
  EXPECT_TRUE(FillLoadDataParams(std::string(2083, 'u'), "C:\\d", params, field));
  EXPECT_FALSE(FillLoadDataParams(std::string(2084, 'u'), "C:\\d", params, field));
  EXPECT_EQ(field, "url");
}

TEST_F(UrlOperations, MembersOfTheWrongTypeCountAsAbsent) {
  // "opsign" as a string is 0: nothing is cached; "code" as a string is 1.
  URLLoadDataOperation("URL_LoadData",
                       Call(R"({"op":"URL_LoadData","url":"u","opsign":"6","code":"4"})"));
  tasks.client.OnLoadDataNotice(40, "data");
  EXPECT_EQ(tasks.client.GetLoadedData(6), "");
  ASSERT_EQ(tasks.posted.size(), 1u);
  EXPECT_NE(tasks.posted[0].find("OnURLLoadData"), std::string::npos);
}

TEST_F(UrlOperations, RefusedCallsStartNothingAndSayWhy) {
  struct Case {
    const char* call;
    const char* logged;
  } cases[] = {
      {R"({"op":"URL_LoadData"})", "URLLoadData 错误! 地址为空."},
      {R"({"op":"URL_LoadData","url":7})", "URLLoadData 错误! 地址为空."},
      {R"({"op":"URL_Download","url":"u"})", "URLDownload 错误! 地址或文件名为空."},
      {R"({"op":"URL_Download","name":"n"})", "URLDownload 错误! 地址或文件名为空."},
  };
  for (const Case& c : cases) {
    const Json::Value call = Call(c.call);
    const std::string log = testing_support::LogDuring([&] {
      if (call["op"].asString() == "URL_LoadData")
        URLLoadDataOperation("URL_LoadData", call);
      else
        URLDownloadOperation("URL_Download", call);
    });
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_NE(log.find(" json:"), std::string::npos) << log;
  }
  const std::string tooLong = std::string(R"({"op":"URL_Download","url":"u","name":"n","text":")") +
                              std::string(200, 'x') + "\"}";
  const std::string log = testing_support::LogDuring(
      [&] { URLDownloadOperation("URL_Download", Call(tooLong.c_str())); });
  EXPECT_NE(log.find("'text'"), std::string::npos) << log;
  EXPECT_TRUE(tasks.records.empty());

  // No window to serve them (the launcher's window is gone).
  SetDownloadTasks(nullptr);
  const std::string dropped = testing_support::LogDuring([&] {
    URLLoadDataOperation("URL_LoadData", Call(R"({"op":"URL_LoadData","url":"http://h/c"})"));
    URLDownloadOperation("URL_Download", Call(R"({"op":"URL_Download","url":"u","name":"n"})"));
  });
  EXPECT_NE(dropped.find("URLLoadData 错误! 下载服务窗口不存在"), std::string::npos) << dropped;
  EXPECT_NE(dropped.find("URLDownload 错误! 下载服务窗口不存在"), std::string::npos) << dropped;
}

TEST_F(UrlOperations, DownloadFillsTheRecordAndATaskThatDidNotStartLeavesNothing) {
  URLDownloadOperation("URL_Download", Call(R"({"op":"URL_Download","url":"http://h/p",
      "name":"Orlune.pkg.exe","path":"Download","text":"更新大厅...","display":true,"open":false,
      "opsign":3,"then":{"op":"UpdatePlaza"}})"));
  ASSERT_EQ(tasks.records.size(), 1u);
  const DownloadTaskParams& p = tasks.records[0];
  EXPECT_EQ(tasks.kinds[0], kTaskDownloadFile);
  EXPECT_EQ(p.display, 1);
  EXPECT_EQ(p.open, 0);
  EXPECT_STREQ(p.text, "更新大厅...");
  EXPECT_EQ(std::string(p.folder), LauncherApp::Get().exeDir + "\\Download");
  EXPECT_EQ(tasks.client.TrackedTasks(), 1u);

  tasks.nextId = 0;  // the service refuses
  URLDownloadOperation("URL_Download", Call(R"({"op":"URL_Download","url":"u","name":"n",
      "opsign":3,"then":{"op":"UpdatePlaza"}})"));
  EXPECT_EQ(tasks.records.size(), 2u);
  EXPECT_EQ(tasks.client.TrackedTasks(), 1u);
}

// The statistics and registration requests count something on the server:
// sent once. A load someone waits for may be sent again before any answer.
TEST_F(UrlOperations, ALoadNobodyWaitsForIsSentOnce) {
  EXPECT_TRUE(LoadIsSentOnce(2, false));
  EXPECT_TRUE(LoadIsSentOnce(0, false));
  EXPECT_FALSE(LoadIsSentOnce(4, false)) << "cached for a continuation";
  EXPECT_FALSE(LoadIsSentOnce(1, false)) << "raised to Lua";
  EXPECT_FALSE(LoadIsSentOnce(2, true)) << "a continuation waits";
  URLLoadDataOperation("URL_LoadData", Call(R"({"op":"URL_LoadData","url":"http://h/stat","code":2})"));
  URLLoadDataOperation("URL_LoadData", Call(R"({"op":"URL_LoadData","url":"http://h/config",
      "code":4,"opsign":3,"then":{"op":"CheckConfig","opsign":3}})"));
  ASSERT_EQ(tasks.options.size(), 2u);
  EXPECT_EQ(tasks.options[0].flags, kTaskOptionSendOnce);
  EXPECT_EQ(tasks.options[0].structSize, sizeof(DownloadTaskOptions));
  EXPECT_EQ(tasks.options[1].flags, 0u) << "the plain task";
}

// A package's expectation travels in the continuation: the service takes
// its SHA-256 while writing; with keys the signed size is a limit and the
// signed digest vouches for a partial file; without keys neither.
TEST_F(UrlOperations, APackageDownloadAsksForWhatItsContinuationExpects) {
  const std::string digest(64, 'c');
  Json::Value then = Call(R"({"op":"UpdatePlaza","size":8000000})");
  then["sha256"] = digest;
  const DownloadTaskOptions keyed = PackageDownloadOptions(then, true);
  EXPECT_EQ(keyed.flags, kTaskOptionReportFile | kTaskOptionSizeLimit | kTaskOptionDigest);
  EXPECT_EQ(keyed.size, 8000000);
  EXPECT_EQ(keyed.sha256[0], 0xCC);
  EXPECT_EQ(PackageDownloadOptions(then, false).flags, kTaskOptionReportFile);
  EXPECT_EQ(PackageDownloadOptions(Call(R"({"op":"UpdatePlaza","size":8})"), false).flags, 0u)
      << "no digest, no keys: the design's download";
  EXPECT_EQ(PackageDownloadOptions(Call(R"({"op":"UpdatePlaza"})"), true).flags,
            kTaskOptionReportFile)
      << "with keys the file's digest is always taken (a missing one is refused later)";
  EXPECT_EQ(PackageDownloadOptions(Call(R"({"op":"UpdatePlaza","sha256":"35.2MB"})"), false).flags,
            0u)
      << "a malformed member asks for nothing";

  Json::Value call = Call(R"({"op":"URL_Download","url":"http://h/p","name":"Orlune.pkg.exe",
      "path":"Download"})");
  call["then"] = then;
  URLDownloadOperation("URL_Download", call);
  ASSERT_EQ(tasks.options.size(), 1u);
  EXPECT_EQ(tasks.options[0].flags, kTaskOptionReportFile) << "this test build has no keys";
}

TEST_F(UrlOperations, AnOperatorsDownloadWithSha256OrSizeCountsOnlyWhenTheFileMatches) {
  testing_support::TempDir dir(testing_support::TempName::kChinese);
  const std::string bytes = "the operator's file 淺";
  trust::Digest sha{};
  ASSERT_TRUE(trust::Sha256Of(bytes, sha));
  const std::string digest = "\"" + trust::DigestText(sha) + "\"";
  const std::string size = std::to_string(bytes.size());
  const struct {
    const char* name;
    std::string members;  // further members of the call
    int32_t status;       // what the service reports
    bool succeeded;       // the continuation's result
    bool fileStays;
  } cases[] = {
      {"digest and size match", ",\"sha256\":" + digest + ",\"size\":" + size, 3, true, true},
      {"size alone matches", ",\"size\":" + size, 3, true, true},
      {"another digest", ",\"sha256\":\"" + std::string(64, 'a') + "\"", 3, false, false},
      {"another size", ",\"sha256\":" + digest + ",\"size\":3", 3, false, false},
      {"a digest that is no digest: ignored without keys", ",\"sha256\":\"abc\"", 3, true, true},
      {"neither: as the design has it", "", 3, true, true},
      {"the download itself failed", ",\"sha256\":" + digest, 4, false, true},
  };
  uint32_t task = tasks.nextId;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Path() + "\\文件淺.bin";
    ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
    Json::Value call = Call(R"({"op":"URL_Download","url":"https://h/f","name":"文件淺.bin",
        "opsign":9,"then":{"op":"MsgBox"}})");
    call["path"] = dir.Path();
    Json::Value extra = Call(("{\"x\":0" + c.members + "}").c_str());
    for (const std::string& name : extra.getMemberNames())
      if (name != "x") call[name] = extra[name];
    tasks.posted.clear();
    URLDownloadOperation("URL_Download", call);
    tasks.client.OnDownloadNotice(DownloadNotice{task++, 0, 0, c.status});
    ASSERT_FALSE(tasks.posted.empty());
    const Json::Value then = Call(tasks.posted.back().c_str());
    EXPECT_EQ(then["op"].asString(), "MsgBox");
    EXPECT_EQ(then["result"]["status"].asBool(), c.succeeded);
    EXPECT_EQ(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES, c.fileStays);
    EXPECT_EQ(tasks.client.TrackedTasks(), 0u) << "bookkeeping left behind";
  }
}
