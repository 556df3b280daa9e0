// Download.dll's one session and its task options, against the loopback
// endpoint: requests to a host share one kept-alive connection; data loads
// go out again only when no answer began (and never when sent once); a
// download stops as soon as it passes its signed size; the 1089 record hands
// the file over held, with the SHA-256 of what was written (resumed parts
// included); a partial file of an earlier start is carried on only when a
// validator or the signed digest vouches for it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "bcrypt_trust.h"
#include "loopback_endpoint.h"
#include "resume_rules.h"
#include "scoped_handle.h"
#include "service_harness.h"
#include "test_support.h"

namespace download_test {
namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Sha256(const std::string& bytes) {
  trust::Digest digest{};
  EXPECT_TRUE(trust::Sha256Of(bytes, digest));
  return std::string(digest.begin(), digest.end());
}

class TaskOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(service.IsValid());
  }

  uint32_t Load(const std::string& url, uint32_t flags = 0, bool plain = true) {
    const DownloadTaskParams p = TaskRecord(url, "C:\\unused");
    if (plain) return service->CreateTask(kTaskLoadData, &p, window.Handle());
    return CreateTaskWithOptions(service.operator->(), kTaskLoadData, p, window.Handle(),
                                 TaskOptions(flags));
  }
  uint32_t Download(IDownloadService* with, const std::string& url, const std::string& folder,
                    const DownloadTaskOptions& options) {
    const DownloadTaskParams p = TaskRecord(url, folder, "pkg.exe");
    return CreateTaskWithOptions(with, kTaskDownloadFile, p, window.Handle(), options);
  }
  int32_t FinalStatus(uint32_t task) const {
    const auto records = window.RecordsOf(task);
    return records.empty() ? 0 : records.back().Notice().status;
  }

  endpoint::LoopbackEndpoint server;
  RecordWindow window;
  LoadedService service;
};

TEST_F(TaskOptionsTest, RequestsToOneHostShareOneKeptAliveConnection) {
  server.Route("/reply", Body("reply"));
  server.Route("/file", Body(Pattern(300000)));
  TempDir dir;
  for (int i = 0; i < 4; ++i) {
    const uint32_t task = Load(server.Url("/reply"));
    ASSERT_TRUE(window.WaitForEnds({task}, 10000));
    EXPECT_EQ(window.RecordsOf(task).back().Data(), "reply");
  }
  const DownloadTaskParams p = TaskRecord(server.Url("/file"), dir.Path(), "pkg.exe");
  const uint32_t file = service->CreateTask(kTaskDownloadFile, &p, window.Handle());
  ASSERT_TRUE(window.WaitForEnds({file}, 10000));
  EXPECT_EQ(FinalStatus(file), kDownloadFinished);
  EXPECT_EQ(server.Requests().size(), 5u);
  EXPECT_EQ(server.Connections(), 1) << "one connection for the service's requests to a host";
  // One session for the service's life: Wine 8 shares kept-alive connections
  // even across sessions, Windows does not.
  auto opened = reinterpret_cast<DownloadSessionsOpenedFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA(kDownloadLibraryName), kDownloadSessionsOpenedName)));
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(opened(), 1u);
}

// Refused, the connection ended after the request, no answer in time, 500,
// a body cut short: each sent once when it counts something; otherwise sent
// again only when no answer began (and never after a time-out).
TEST_F(TaskOptionsTest, DataLoadsAreSentAgainOnlyWhenNoAnswerBegan) {
  endpoint::Reply ended;
  ended.endConnection = true;
  endpoint::Reply hang;
  hang.hang = true;
  endpoint::Reply cut = Body(std::string(200000, 'c'));
  cut.dropAfterBytes = 70000;
  const struct {
    const char* name;
    const char* path;  // nullptr: nothing listens
    endpoint::Reply reply;
    size_t sentOnce, sentOtherwise;
  } cases[] = {
      {"refused", nullptr, endpoint::Reply(), 0, 0},
      {"connection ended after the request", "/ended", ended, 1, 1 + download::kLoadRetries},
      {"no answer within the time-out", "/hang", hang, 1, 1},
      {"500", "/500", Body("broken", 500), 1, 1},
      {"body cut short", "/cut", cut, 1, 1},
  };
  const std::string refused = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/x";
  for (bool once : {true, false}) {
    std::vector<uint32_t> tasks;
    std::vector<DWORD> started;
    for (const auto& c : cases) {
      const std::string path = c.path ? std::string(c.path) + (once ? "-once" : "") : "";
      if (c.path) server.Route(path, c.reply);
      started.push_back(GetTickCount());
      tasks.push_back(Load(c.path ? server.Url(path) : refused, kTaskOptionSendOnce, !once));
      ASSERT_NE(tasks.back(), 0u) << c.name;
    }
    ASSERT_TRUE(window.WaitForEnds(tasks, 60000));
    for (size_t i = 0; i < tasks.size(); ++i) {
      const auto& c = cases[i];
      const std::string mode = once ? " (sent once)" : " (may be sent again)";
      const auto records = window.RecordsOf(tasks[i]);
      ASSERT_EQ(records.size(), 1u) << c.name << mode;
      EXPECT_EQ(records[0].Data(), "") << c.name << mode;
      if (c.path) {
        EXPECT_EQ(server.Requests(std::string(c.path) + (once ? "-once" : "")).size(),
                  once ? c.sentOnce : c.sentOtherwise)
            << c.name << mode;
      } else {
        // Nothing to count at a port nobody listens on: the pauses before
        // each new attempt (1 and 2 s) show them.
        const DWORD took = records[0].tick - started[i];
        if (once) {
          EXPECT_LT(took, 2500u) << c.name << mode;
        } else {
          EXPECT_GE(took, 2900u) << c.name << mode;
        }
        EXPECT_NE(window.DetailsOf(tasks[i]).error, 0u) << c.name << mode;
      }
    }
  }
}

TEST_F(TaskOptionsTest, ADownloadStopsAsSoonAsItPassesItsSignedSize) {
  TempDir dir;
  constexpr int64_t kSigned = 8000000;
  ASSERT_TRUE(WriteFileBytes(dir.File("big.bin"), Pattern(64 * 1024 * 1024)));
  ASSERT_TRUE(WriteFileBytes(dir.File("exact.bin"), Pattern(static_cast<size_t>(kSigned))));
  endpoint::Reply announced;  // Content-Length: 64 MiB
  announced.file = dir.File("big.bin");
  endpoint::Reply unannounced = announced;  // chunked: no length to go by
  unannounced.chunked = true;
  endpoint::Reply exact;
  exact.file = dir.File("exact.bin");
  server.Route("/announced", announced);
  server.Route("/unannounced", unannounced);
  server.Route("/exact", exact);
  const struct {
    const char* name;
    const char* path;
    bool fits;
  } cases[] = {
      {"64 MiB announced", "/announced", false},
      {"64 MiB chunked", "/unannounced", false},
      {"exactly the signed size", "/exact", true},
  };
  for (const auto& c : cases) {
    const std::string folder = dir.File(c.path + 1);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + "\\pkg.exe", "older"));
    const uint64_t sentBefore = server.BytesSent();
    const uint32_t task = Download(service.operator->(), server.Url(c.path), folder,
                                   TaskOptions(kTaskOptionSizeLimit, kSigned));
    ASSERT_NE(task, 0u) << c.name;
    ASSERT_TRUE(window.WaitForEnds({task}, 60000)) << c.name;
    for (int i = 0; i < 200 && server.ActiveReplies() > 0; ++i) Sleep(10);
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(folder + "\\pkg.exe", bytes)) << c.name;
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"pkg.exe"})
        << c.name << ": no partial file is kept";
    if (c.fits) {
      EXPECT_EQ(FinalStatus(task), kDownloadFinished) << c.name;
      EXPECT_EQ(bytes.size(), static_cast<size_t>(kSigned)) << c.name;
      continue;
    }
    EXPECT_EQ(FinalStatus(task), kDownloadFailed) << c.name;
    EXPECT_EQ(bytes, "older") << c.name;
    EXPECT_EQ(window.DetailsOf(task).error, static_cast<uint32_t>(ERROR_FILE_TOO_LARGE)) << c.name;
    for (const Record& r : window.RecordsOf(task))
      EXPECT_LE(r.Notice().loaded, kSigned) << c.name << ": nothing past the signed size";
    EXPECT_LT(server.BytesSent() - sentBefore, 24u * 1024 * 1024)
        << c.name << ": the transfer stopped, it did not run to its end";
  }
}

// A broken transfer carried on within the task: the digest covers all of it,
// and the file cannot be written or deleted from the 1089 record on, for as
// long as the client keeps its duplicate of the handle.
TEST_F(TaskOptionsTest, TheFileIsHandedOverHeldWithTheDigestOfWhatWasWritten) {
  TempDir dir;
  const std::string payload = Pattern(3 * 1024 * 1024 + 5);
  endpoint::Reply whole = Body(payload);
  whole.ranges = true;
  whole.etag = "\"v1\"";
  endpoint::Reply broken = whole;
  broken.dropAfterBytes = 1024 * 1024;
  server.Route("/pkg", Script({broken, whole}));
  const std::string path = dir.File("pkg.exe");
  DWORD writeError = 0, deleteError = 0;
  ScopedHandle kept;
  window.onRecord = [&](const Record& r) {
    if (r.id != kFileDetailsNoticeId || r.bytes.size() != sizeof(FileDetailsRecord)) return;
    FileDetailsRecord record;
    std::memcpy(&record, r.bytes.data(), sizeof record);
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    writeError = writer == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    deleteError = DeleteFileA(path.c_str()) ? 0 : GetLastError();
    HANDLE copy = nullptr;
    if (record.processId == GetCurrentProcessId() &&
        DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(record.handle),
                        GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
      kept.Set(copy);
  };
  const uint32_t task = Download(service.operator->(), server.Url("/pkg"), dir.Path(),
                                 TaskOptions(kTaskOptionReportFile));
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(window.WaitForEnds({task}, 30000));
  window.onRecord = nullptr;
  EXPECT_EQ(FinalStatus(task), kDownloadFinished);
  EXPECT_EQ(server.Requests("/pkg").size(), 2u) << "broken once, carried on";
  const auto details = window.FileDetailsOf(task);
  ASSERT_EQ(details.size(), 1u);
  EXPECT_EQ(details[0].processId, GetCurrentProcessId());
  EXPECT_NE(details[0].handle, 0u);
  EXPECT_EQ(details[0].size, static_cast<int64_t>(payload.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(details[0].sha256), 32), Sha256(payload));
  EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "no writer while held";
  EXPECT_NE(deleteError, 0u) << "nor deletion";
  EXPECT_TRUE(window.DetailsOf(task).present) << "1089, then 1088, then the final record";
  ASSERT_TRUE(kept);
  EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE)
      << "the client's duplicate holds it after the task";
  kept.Close();
  ScopedHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
  EXPECT_TRUE(writer) << "free once the last hold is gone";
  writer.Close();
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(path, bytes));
  EXPECT_TRUE(bytes == payload);

  // Without the option: no record, nothing held.
  window.Forget();
  const uint32_t plain = Download(service.operator->(), server.Url("/pkg"), dir.File("plain"),
                                  TaskOptions(0));
  ASSERT_TRUE(window.WaitForEnds({plain}, 30000));
  EXPECT_EQ(FinalStatus(plain), kDownloadFinished);
  EXPECT_TRUE(window.FileDetailsOf(plain).empty());
}

// What an earlier start left: without a validator and without a signed
// digest it goes (a file published again at the same address with the same
// size is fetched whole, never joined from two); with the signed digest it is
// carried on and the digest covers the bytes of both starts.
TEST_F(TaskOptionsTest, APartialFileOfAnEarlierStartNeedsAValidatorOrTheSignedDigest) {
  TempDir dir;
  const std::string first = Pattern(4 * 1024 * 1024, 131);
  const std::string republished = Pattern(4 * 1024 * 1024, 137);  // same size, other bytes
  endpoint::Reply slow = Body(first);  // ranges, but neither ETag nor Last-Modified
  slow.ranges = true;
  slow.bytesPerSecond = 2 * 1024 * 1024;
  endpoint::Reply quick = Body(first);
  quick.ranges = true;
  endpoint::Reply changed = Body(republished);
  changed.ranges = true;
  const std::string signedDigest = Sha256(first);
  const struct {
    const char* name;
    uint32_t flags;
    endpoint::Reply next;       // what the server has at the next start
    bool carriedOn;
    const std::string& expected;
  } cases[] = {
      {"no validator, nothing signed", kTaskOptionReportFile, changed, false, republished},
      {"the signed digest", kTaskOptionReportFile | kTaskOptionDigest, quick, true, first},
  };
  for (const auto& c : cases) {
    const std::string folder = dir.File(std::to_string(&c - cases));
    const std::string path = "/pkg" + std::to_string(&c - cases);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    server.Route(path, Script({slow, c.next}));
    window.Forget();  // task ids start again with each service
    {
      LoadedService earlier;
      ASSERT_TRUE(earlier.IsValid());
      const uint32_t task = Download(earlier.operator->(), server.Url(path), folder,
                                     TaskOptions(c.flags, 0, signedDigest));
      ASSERT_NE(task, 0u) << c.name;
      ASSERT_TRUE(testing_support::PumpMessagesUntil(
          [&] {
            const auto records = window.RecordsOf(task);
            return !records.empty() && records.back().Notice().loaded >= 1024 * 1024;
          },
          10000))
          << c.name;
      earlier.Unload();  // the launcher ends mid-way
    }
    EXPECT_EQ(FolderNames(folder).size(), c.carriedOn ? 2u : 0u)
        << c.name << ": the partial file and its description stay only when vouched for";
    for (int i = 0; i < 500 && server.ActiveReplies() > 0; ++i) Sleep(10);
    window.Forget();
    const uint32_t task =
        Download(service.operator->(), server.Url(path), folder, TaskOptions(c.flags, 0, signedDigest));
    ASSERT_TRUE(window.WaitForEnds({task}, 30000)) << c.name;
    EXPECT_EQ(FinalStatus(task), kDownloadFinished) << c.name;
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(folder + "\\pkg.exe", bytes)) << c.name;
    EXPECT_TRUE(bytes == c.expected) << c.name;
    const auto asked = server.Requests(path);
    ASSERT_EQ(asked.size(), 2u) << c.name;
    EXPECT_EQ(asked[1].range.empty(), !c.carriedOn) << c.name << ": " << asked[1].range;
    const auto details = window.FileDetailsOf(task);
    ASSERT_EQ(details.size(), 1u) << c.name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(details[0].sha256), 32), Sha256(c.expected))
        << c.name << ": the digest covers the bytes of both starts";
  }
}

}  // namespace
}  // namespace download_test
