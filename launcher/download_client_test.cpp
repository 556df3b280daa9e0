#include "download_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "json_util.h"
#include "scoped_handle.h"
#include "test_support.h"

namespace {

// A client whose posts are recorded and whose clock the test sets.
struct Harness {
  std::vector<Json::Value> posted;
  std::vector<std::string> raw;
  uint64_t now = 1000;
  DownloadClient client{[this](const std::string& text) {
                          raw.push_back(text);
                          Json::Value v;
                          posted.push_back(rt::ParseJson(text, v) ? v : Json::Value("<not json>"));
                        },
                        [this] { return now; }};

  void Load(uint32_t task, const std::string& data) {
    std::string record(sizeof(LoadDataNoticeHeader), '\0');
    LoadDataNoticeHeader header{task, 0, static_cast<uint32_t>(data.size()), 0};
    std::memcpy(&record[0], &header, sizeof header);
    record += data;
    EXPECT_TRUE(client.OnRecord(kLoadDataNoticeId, record.data(), record.size()));
  }
  void Notice(uint32_t task, int32_t loaded, int32_t total, int32_t status) {
    DownloadNotice notice{task, loaded, total, status};
    EXPECT_TRUE(client.OnRecord(kDownloadNoticeId, &notice, sizeof notice));
  }
};

const char kThen[] = "{\"op\":\"Next\",\"opsign\":9,\"keep\":\"x\"}";

std::string Styled(const char* text) {
  Json::Value v;
  rt::ParseJson(text, v);
  return rt::StyledText(v);
}

}  // namespace

TEST(DownloadClient, DataLoadCodesDecideEventsCacheAndPosts) {
  struct Case {
    int32_t code;
    int32_t opsign;
    bool cached;
    bool event;
    bool posted;
  } cases[] = {
      {1, 5, false, true, false}, {2, 5, false, false, true}, {4, 5, true, false, false},
      {6, 5, true, false, true},  {7, 5, true, true, true},   {4, 0, false, false, false},
      {0, 5, false, false, false},
  };
  for (const Case& c : cases) {
    Harness h;
    h.client.TrackLoad(3, c.opsign, c.code, Styled(kThen));
    h.Load(3, "{\"op\":\"FromServer\"}");
    EXPECT_EQ(!h.client.GetLoadedData(c.opsign).empty(), c.cached) << c.code;
    size_t i = 0;
    if (c.event) {
      ASSERT_LT(i, h.posted.size());
      EXPECT_EQ(h.posted[i]["op"].asString(), "To_Lua");
      EXPECT_EQ(h.posted[i]["name"].asString(), "OnURLLoadData");
      EXPECT_EQ(h.posted[i]["data"]["id"].asInt(), c.opsign);
      EXPECT_EQ(h.posted[i]["data"]["data"].asString(), "{\"op\":\"FromServer\"}");
      EXPECT_EQ(h.posted[i].size(), 3u);  // op, name and data only
      ++i;
    }
    if (c.posted) {
      ASSERT_LT(i, h.raw.size());
      EXPECT_EQ(h.raw[i], "{\"op\":\"FromServer\"}");  // the data itself
      ++i;
    }
    // The continuation always runs, unchanged (no result added).
    ASSERT_EQ(h.raw.size(), i + 1) << c.code;
    EXPECT_EQ(h.raw[i], Styled(kThen));
    EXPECT_EQ(h.client.TrackedTasks(), 0u);
  }
}

TEST(DownloadClient, CacheLivesThirtySecondsAndTheLaterLoadWins) {
  Harness h;
  h.client.TrackLoad(1, 7, 4, "");
  h.Load(1, "first");
  h.now += 10000;
  h.client.TrackLoad(2, 7, 4, "");
  h.Load(2, "second");  // expires at now + 30000
  EXPECT_EQ(h.client.GetLoadedData(7), "second");
  EXPECT_EQ(h.client.GetLoadedData(7), "second");  // reading keeps it
  h.now += 29999;
  h.client.PurgeLoadedData();
  EXPECT_EQ(h.client.GetLoadedData(7), "second");
  h.now += 1;
  h.client.PurgeLoadedData();
  EXPECT_EQ(h.client.GetLoadedData(7), "");
  EXPECT_TRUE(h.raw.empty());  // code 4 without a continuation posts nothing
}

TEST(DownloadClient, EmptyLoadStillRunsTheContinuation) {
  Harness h;
  h.client.TrackLoad(4, 8, 4, Styled(kThen));
  h.Load(4, "");
  EXPECT_EQ(h.client.GetLoadedData(8), "");
  ASSERT_EQ(h.raw.size(), 1u);
  EXPECT_EQ(h.posted[0]["op"].asString(), "Next");
}

TEST(DownloadClient, DownloadProgressAndItsOneEnd) {
  struct Case {
    int32_t opsign;
    int32_t finalStatus;
    bool result;
  } cases[] = {{11, 3, true}, {11, 4, false}, {0, 3, true}};
  for (const Case& c : cases) {
    Harness h;
    h.client.TrackDownload(6, c.opsign, Styled(kThen));
    h.Notice(6, 0, 100, 1);
    h.Notice(6, 50, 100, 2);
    h.Notice(6, 100, 100, c.finalStatus);
    const size_t events = c.opsign != 0 ? 3 : 0;
    ASSERT_EQ(h.posted.size(), events + 1);
    for (size_t i = 0; i < events; ++i) {
      EXPECT_EQ(h.posted[i]["name"].asString(), "OnURLDownload");
      EXPECT_EQ(h.posted[i]["data"]["id"].asInt(), c.opsign);
      EXPECT_EQ(h.posted[i]["data"]["size"].asInt(), 100);
    }
    if (events) {
      EXPECT_EQ(h.posted[1]["data"]["load"].asInt(), 50);
    }
    const Json::Value& then = h.posted[events];
    EXPECT_EQ(then["op"].asString(), "Next");
    EXPECT_EQ(then["keep"].asString(), "x");
    EXPECT_EQ(then["result"]["status"].asBool(), c.result);
    EXPECT_EQ(then["result"].size(), 1u);
    EXPECT_EQ(h.client.TrackedTasks(), 0u);

    h.Notice(6, 100, 100, c.finalStatus);  // a stray record after the end
    EXPECT_EQ(h.posted.size(), events + 1);
  }
}

TEST(DownloadClient, UnknownTasksShortRecordsAndOtherIdentifiers) {
  Harness h;
  h.Notice(99, 1, 2, 3);
  h.Load(98, "{\"op\":\"X\"}");
  EXPECT_TRUE(h.raw.empty());

  h.client.TrackLoad(5, 1, 7, Styled(kThen));
  const char shortRecord[12] = {5};
  EXPECT_TRUE(h.client.OnRecord(kDownloadNoticeId, shortRecord, sizeof shortRecord));
  EXPECT_TRUE(h.raw.empty()) << "a short progress record is ignored";
  EXPECT_FALSE(h.client.OnRecord(2124, "x", 1));
  EXPECT_FALSE(h.client.OnRecord(kDownloadNoticeId + 5, nullptr, 0));

  // Bytes with zeros inside are copied whole.
  h.Load(5, std::string("a\0b", 3));
  EXPECT_EQ(h.client.GetLoadedData(1), std::string("a\0b", 3));
}

// A data record shorter than its header ends its load as failed (the start
// goes on to its failure path); when not even its task can be read, every
// data load still waiting ends so.
TEST(DownloadClient, ADataRecordShorterThanItsHeaderIsAFailedLoad) {
  Harness h;
  std::vector<std::string> log;
  h.client.SetLog([&log](const std::string& line) { log.push_back(line); });
  h.client.TrackLoad(5, 1, 4, Styled(kThen));
  h.client.TrackLoad(6, 2, 4, Styled(kThen));
  const char shortRecord[12] = {5};
  EXPECT_TRUE(h.client.OnRecord(kLoadDataNoticeId, shortRecord, sizeof shortRecord));
  ASSERT_EQ(h.raw.size(), 1u) << "task 5's continuation runs";
  EXPECT_EQ(h.posted[0]["op"], "Next");
  EXPECT_EQ(h.client.GetLoadedData(1), "");
  EXPECT_EQ(h.client.TrackedTasks(), 1u);
  const char stump[2] = {6, 0};
  EXPECT_TRUE(h.client.OnRecord(kLoadDataNoticeId, stump, sizeof stump));
  EXPECT_TRUE(h.client.OnRecord(kLoadDataNoticeId, nullptr, 0));
  EXPECT_EQ(h.raw.size(), 2u) << "the waiting load ends once";
  EXPECT_EQ(h.client.TrackedTasks(), 0u);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find("数据记录损坏[任务:5]"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find("数据记录损坏[任务:6]"), std::string::npos) << log[1];
}

// A damaged data record must not leave its caller waiting for ever: it
// counts as a load that failed, and the continuation runs without data.
TEST(DownloadClient, ARecordClaimingMoreBytesThanItHoldsIsAFailedLoad) {
  Harness h;
  h.client.TrackLoad(5, 1, 4, Styled(kThen));
  std::string liar(sizeof(LoadDataNoticeHeader), '\0');
  LoadDataNoticeHeader header{5, 0, 1000, 0};
  std::memcpy(&liar[0], &header, sizeof header);
  liar += "{\"code\":1}";
  EXPECT_TRUE(h.client.OnRecord(kLoadDataNoticeId, liar.data(), liar.size()));
  ASSERT_EQ(h.raw.size(), 1u);
  EXPECT_EQ(h.posted[0]["op"], "Next");
  EXPECT_EQ(h.client.GetLoadedData(1), "") << "none of the claimed bytes is kept";
  EXPECT_EQ(h.client.TrackedTasks(), 0u);
}

// The figures the update view shows: the speed over the last seconds and the
// time the rest takes; a break (status 5) shows neither until bytes flow.
TEST(DownloadClient, ProgressCarriesSpeedAndTimeLeft) {
  Harness h;
  h.client.TrackDownload(6, 11, Styled(kThen));
  const int64_t mb = 1024 * 1024;
  struct Step {
    uint64_t advanceMs;
    int32_t loaded, status;
    int64_t speed, left;
  } steps[] = {
      {0, 0, 1, 0, -1},                                    // nothing measured yet
      {100, static_cast<int32_t>(mb / 10), 2, 0, -1},      // too short to tell
      {900, static_cast<int32_t>(mb), 2, mb, 9},           // 1 MiB in 1 s, 9 MiB to go
      {1000, static_cast<int32_t>(3 * mb), 2, 3 * mb / 2, 5},
      {500, static_cast<int32_t>(3 * mb), 5, 0, -1},       // reconnecting
      {1000, static_cast<int32_t>(3 * mb), 2, 0, -1},      // the measure starts again
      {1000, static_cast<int32_t>(5 * mb), 2, 2 * mb, 3},
      {0, static_cast<int32_t>(10 * mb), 3, 0, 0},         // done
  };
  for (const Step& step : steps) {
    h.now += step.advanceMs;
    h.Notice(6, step.loaded, static_cast<int32_t>(10 * mb), step.status);
    const Json::Value& data = h.posted.at(h.posted.size() - (step.status == 3 ? 2 : 1))["data"];
    SCOPED_TRACE(step.loaded);
    EXPECT_EQ(data["status"].asInt(), step.status);
    EXPECT_EQ(data["speed"].asInt64(), step.speed);
    EXPECT_EQ(data["left"].asInt64(), step.left);
    EXPECT_EQ(data.size(), 6u) << "id, status, size, load, speed, left";
  }
  EXPECT_EQ(h.posted.back()["op"].asString(), "Next") << "one end";
}

TEST(DownloadClient, AContinuationThatIsNotANonEmptyObjectIsNotPosted) {
  for (const char* then : {"{}", "[1]", "not json"}) {
    Harness h;
    h.client.TrackDownload(2, 0, then);
    h.Notice(2, 1, 1, 3);
    EXPECT_TRUE(h.raw.empty()) << then;
  }
}

namespace {

void Details(DownloadClient& client, uint32_t task, uint32_t error, uint32_t status,
             const std::string& signature) {
  std::string record(sizeof(RequestDetailsHeader), '\0');
  RequestDetailsHeader header{task, error, status, static_cast<uint32_t>(signature.size())};
  std::memcpy(&record[0], &header, sizeof header);
  record += signature;
  EXPECT_TRUE(client.OnRecord(kRequestDetailsNoticeId, record.data(), record.size()));
}

}  // namespace

TEST(DownloadClient, RequestDetailsGiveTheSignatureTheLogAndTheCheckOfPostedReplies) {
  Harness h;
  std::vector<std::string> log;
  h.client.SetLog([&log](const std::string& line) { log.push_back(line); });

  // The signature travels with the cached data; the details go with the task.
  h.client.TrackLoad(1, 5, 4, "", "https://host/starterUpdate.do");
  Details(h.client, 1, 0, 200, "k=00; s=AA==");
  h.Load(1, "{\"code\":1}");
  EXPECT_EQ(h.client.GetLoadedSignature(5), "k=00; s=AA==");
  EXPECT_EQ(h.client.TrackedTasks(), 0u);
  EXPECT_TRUE(log.empty());
  // A record whose length claims more than it holds is ignored.
  std::string shortRecord(sizeof(RequestDetailsHeader), '\0');
  RequestDetailsHeader lying{2, 0, 200, 100};
  std::memcpy(&shortRecord[0], &lying, sizeof lying);
  EXPECT_TRUE(h.client.OnRecord(kRequestDetailsNoticeId, shortRecord.data(), shortRecord.size()));
  EXPECT_EQ(h.client.TrackedTasks(), 0u);

  // Failed requests are logged with their error, TLS refusals named so.
  h.client.TrackLoad(3, 6, 4, "", "https://host/a");
  Details(h.client, 3, 12157, 0, "");
  h.Load(3, "");
  h.client.TrackDownload(4, 0, "", "https://host/p.exe");
  Details(h.client, 4, 0, 404, "");
  h.Notice(4, 0, -1, kDownloadFailed);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "URLLoadData 请求失败[错误:12157 HTTP:0](安全连接失败) 地址:https://host/a");
  EXPECT_EQ(log[1], "URLDownload 请求失败[错误:0 HTTP:404] 地址:https://host/p.exe");
  EXPECT_EQ(h.client.TrackedTasks(), 0u);

  // An unknown task does nothing, and a service that sent no details (one of
  // the design's) leaves nothing to say: no "[错误:0 HTTP:0]" line.
  log.clear();
  Details(h.client, 30, 12029, 0, "");
  h.Load(30, "");
  h.Notice(31, 0, -1, kDownloadFailed);
  h.client.TrackLoad(32, 0, 4, "", "https://host/b");
  h.Load(32, "");
  h.client.TrackDownload(33, 0, "", "https://host/q.exe");
  h.Notice(33, 0, -1, kDownloadFailed);
  EXPECT_TRUE(log.empty()) << log[0];
  EXPECT_EQ(h.client.TrackedTasks(), 0u);

  // With a check set, a reply to be run as an operation call runs only when
  // the check passes.
  std::vector<std::string> checked;
  h.client.SetReplyCheck([&checked](const std::string& body, const std::string& signature) {
    checked.push_back(signature);
    return signature == "good" ? trust::SignatureCheck::Verified : trust::SignatureCheck::Altered;
  });
  h.posted.clear();
  log.clear();
  for (const char* signature : {"good", "bad"}) {
    h.client.TrackLoad(7, 8, 2, "", "https://host/stat");
    Details(h.client, 7, 0, 200, signature);
    h.Load(7, "{\"op\":\"FromServer\"}");
  }
  ASSERT_EQ(h.posted.size(), 1u);
  EXPECT_EQ(h.posted[0]["op"].asString(), "FromServer");
  EXPECT_EQ(checked, (std::vector<std::string>{"good", "bad"}));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "URLLoadData 签名校验失败[内容与签名不符],应答不作为操作执行 地址:https://host/stat");
}

// Record 1089: what the service took of a downloaded file; its hold is kept
// under the file's name once the download finished, for the package check.
TEST(DownloadClient, AFinishedDownloadsWrittenFileWaitsHeldForItsCheck) {
  testing_support::TempDir dir;
  const std::string path = dir.File("Orlune.pkg.exe");
  ASSERT_TRUE(testing_support::WriteFileBytes(path, "package"));
  Harness h;
  const auto Record = [&](uint32_t task, uint32_t pid, HANDLE handle) {
    FileDetailsRecord record{};
    record.task = task;
    record.processId = pid;
    record.handle = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
    record.size = 7;
    record.sha256[0] = 0x5A;
    EXPECT_TRUE(h.client.OnRecord(kFileDetailsNoticeId, &record, sizeof record));
  };
  const auto Open = [&] {
    return ScopedHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  };
  const auto Writable = [&] {
    ScopedHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    return writer.IsValid();
  };
  const DWORD pid = GetCurrentProcessId();
  WrittenPackage written;

  h.client.TrackDownload(1, 0, "", "http://h/p", path);
  {
    ScopedHandle service = Open();  // the service's hold, valid while its record is handled
    Record(1, pid, service.Get());
  }
  EXPECT_FALSE(Writable()) << "the client's duplicate holds the file";
  EXPECT_FALSE(h.client.TakeWrittenPackage(path, written)) << "not before the download ended";
  h.Notice(1, 7, 7, kDownloadFinished);
  ASSERT_TRUE(h.client.TakeWrittenPackage(path, written));
  EXPECT_TRUE(written.hold);
  EXPECT_EQ(written.size, 7);
  EXPECT_EQ(written.digest[0], 0x5A);
  EXPECT_FALSE(h.client.TakeWrittenPackage(path, written)) << "taken once";
  written.hold.Close();
  EXPECT_TRUE(Writable());

  // A failed download, another process's handle, an unknown task: nothing held.
  h.client.TrackDownload(2, 0, "", "http://h/p", path);
  {
    ScopedHandle service = Open();
    Record(2, pid, service.Get());
    Record(3, pid, service.Get());
  }
  h.Notice(2, 0, 7, kDownloadFailed);
  EXPECT_FALSE(h.client.TakeWrittenPackage(path, written));
  EXPECT_TRUE(Writable());
  h.client.TrackDownload(4, 0, "", "http://h/p", path);
  {
    ScopedHandle service = Open();
    Record(4, pid + 1, service.Get());
  }
  h.Notice(4, 7, 7, kDownloadFinished);
  EXPECT_FALSE(h.client.TakeWrittenPackage(path, written));

  // A new download of the same file lets an untaken hold go at once.
  h.client.TrackDownload(5, 0, "", "http://h/p", path);
  {
    ScopedHandle service = Open();
    Record(5, pid, service.Get());
  }
  h.Notice(5, 7, 7, kDownloadFinished);
  EXPECT_FALSE(Writable());
  h.client.TrackDownload(6, 0, "", "http://h/p", path);
  EXPECT_TRUE(Writable());
  EXPECT_EQ(h.client.TrackedTasks(), 1u);
}
