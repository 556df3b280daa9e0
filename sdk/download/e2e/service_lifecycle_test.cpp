// The library's export, the tasks CreateTask refuses, and the end of the
// service with tasks running: Release returns promptly on the thread that
// owns the receiving window, and no record arrives after it returned.
#include <gtest/gtest.h>

#include <cstring>

#include "loopback_endpoint.h"
#include "service_harness.h"
#include "test_support.h"

namespace download_test {
namespace {

using testing_support::TempDir;

constexpr DWORD kReceiveMs = kTestReceiveMs;

TEST(DownloadExport, GivesTheServiceOnlyForItsIdentifierAndVersion) {
  HMODULE module = LoadLibraryA(kDownloadLibraryName);
  ASSERT_NE(module, nullptr);
  auto create = reinterpret_cast<CreateDownloadServiceFn>(
      reinterpret_cast<void*>(GetProcAddress(module, kCreateDownloadServiceName)));
  ASSERT_NE(create, nullptr);
  EXPECT_NE(GetProcAddress(module, "DownloadSetTimeouts"), nullptr);

  GUID otherIid = kDownloadServiceIid;
  otherIid.Data4[7] ^= 1;
  const GUID nullGuid{};
  const struct {
    const char* name;
    const GUID* iid;
    uint32_t version;
    bool created;
  } cases[] = {
      {"ours", &kDownloadServiceIid, 0x01030100, true},
      {"newer minor version", &kDownloadServiceIid, 0x01030101, false},
      {"older version", &kDownloadServiceIid, 0x01020100, false},
      {"newer major version", &kDownloadServiceIid, 0x02030100, false},
      {"version 0", &kDownloadServiceIid, 0, false},
      {"another identifier", &otherIid, 0x01030100, false},
      {"the null identifier", &nullGuid, 0x01030100, false},
      {"no identifier", nullptr, 0x01030100, false},
  };
  for (const auto& c : cases) {
    IDownloadService* service = create(c.iid, c.version);
    EXPECT_EQ(service != nullptr, c.created) << c.name;
    if (service != nullptr) service->Release();
  }
  FreeLibrary(module);
}

TEST(DownloadExport, TheLauncherLoaderGetsAServiceAndUnloadsIt) {
  {
    LoadedService service;
    ASSERT_TRUE(service.IsValid());
  }
  // Loading again after a full unload works as the first time.
  LoadedService again;
  EXPECT_TRUE(again.IsValid());
}

TEST(DownloadCreateTask, RefusesBadTasksAndStartsNothing) {
  endpoint::LoopbackEndpoint server;
  ASSERT_TRUE(server.Start());
  server.Route("/x", endpoint::Reply());
  RecordWindow window;
  RecordWindow gone;
  const HWND goneHandle = gone.Handle();
  gone.Destroy();
  LoadedService service;
  ASSERT_TRUE(service.IsValid());

  const DownloadTaskParams good = TaskRecord(server.Url("/x"), "C:\\d", "f.exe");
  DownloadTaskParams fields[4] = {good, good, good, good};
  std::memset(fields[0].text, 't', sizeof fields[0].text);
  std::memset(fields[1].name, 'n', sizeof fields[1].name);
  std::memset(fields[2].folder, 'f', sizeof fields[2].folder);
  std::memset(fields[3].url, 'u', sizeof fields[3].url);
  const DownloadTaskParams emptyUrl = TaskRecord("", "C:\\d", "f.exe");
  const DownloadTaskParams noName = TaskRecord(server.Url("/x"), "C:\\d", "");

  const struct {
    const char* name;
    uint32_t kind;
    const DownloadTaskParams* params;
    HWND window;
  } cases[] = {
      {"kind 2", 2, &good, window.Handle()},
      {"kind -1", 0xffffffffu, &good, window.Handle()},
      {"no record", 0, nullptr, window.Handle()},
      {"no window", 0, &good, nullptr},
      {"a destroyed window", 1, &good, goneHandle},
      {"text without terminator", 1, &fields[0], window.Handle()},
      {"name without terminator", 1, &fields[1], window.Handle()},
      {"folder without terminator", 0, &fields[2], window.Handle()},
      {"url without terminator", 0, &fields[3], window.Handle()},
      {"empty url (load)", 0, &emptyUrl, window.Handle()},
      {"empty url (download)", 1, &emptyUrl, window.Handle()},
      {"download without a name", 1, &noName, window.Handle()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(service->CreateTask(c.kind, c.params, c.window), 0u) << c.name;
  }
  PumpFor(300);
  EXPECT_TRUE(window.Records().empty());
  EXPECT_TRUE(server.Requests().empty());
}

class ReleaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    endpoint::Reply hang;
    hang.hang = true;
    server.Route("/hang", hang);
    endpoint::Reply slow;
    slow.body = std::string(4 * 1024 * 1024, 's');
    slow.bytesPerSecond = 512 * 1024;
    slow.ranges = true;
    slow.etag = "\"slow-1\"";  // a strong validator: its part may wait for a later start
    server.Route("/slow", slow);
    endpoint::Reply quick;
    quick.body = "quick";
    server.Route("/quick", quick);
  }

  // Starts a hanging data load, a hanging download and a slow download, and
  // waits until the slow one is under way.
  std::vector<uint32_t> StartRunningTasks(IDownloadService* service, RecordWindow* records,
                                          const std::string& folder) {
    const HWND window = records->Handle();
    const DownloadTaskParams hangLoad = TaskRecord(server.Url("/hang"), folder);
    const DownloadTaskParams hangFile = TaskRecord(server.Url("/hang"), folder, "hang.bin");
    const DownloadTaskParams slowFile = TaskRecord(server.Url("/slow"), folder, "slow.bin");
    std::vector<uint32_t> tasks = {service->CreateTask(kTaskLoadData, &hangLoad, window),
                                   service->CreateTask(kTaskDownloadFile, &hangFile, window),
                                   service->CreateTask(kTaskDownloadFile, &slowFile, window)};
    server.WaitForRequests("/hang", 2, 5000);
    // Under way: some of the slow one's bytes have arrived.
    testing_support::PumpMessagesUntil(
        [&] {
          for (const Record& r : records->RecordsOf(tasks[2]))
            if (r.Notice().loaded > 0) return true;
          return false;
        },
        5000);
    return tasks;
  }

  // The slow download's partial file and its description.
  static std::vector<std::string> SlowPartNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : FolderNames(folder)) {
      if (name.rfind("slow.bin.", 0) == 0) names.push_back(name);
    }
    return names;
  }

  endpoint::LoopbackEndpoint server;
};

TEST_F(ReleaseTest, ReturnsPromptlyWithTasksRunningAndNothingArrivesAfterwards) {
  TempDir dir;
  RecordWindow window;
  LoadedService service;
  ASSERT_TRUE(service.IsValid());
  const auto tasks = StartRunningTasks(service.operator->(), &window, dir.Path());
  for (uint32_t task : tasks) ASSERT_NE(task, 0u);
  const auto slowPart = SlowPartNames(dir.Path());
  ASSERT_EQ(slowPart.size(), 2u);

  const DWORD start = GetTickCount();
  service.Unload();  // Release, then FreeLibrary, as the launcher's window does
  const DWORD took = GetTickCount() - start;
  EXPECT_LT(took, 1500u);
  const size_t seen = window.Records().size();

  // The hanging tasks end on their own time-out inside the library; none of
  // them may report. What the slow download received stays, with its
  // description, for a later start to carry on; nothing else is left.
  PumpFor(kReceiveMs + 1500);
  EXPECT_EQ(window.Records().size(), seen);
  for (uint32_t task : tasks) EXPECT_EQ(window.FinalRecords(task), 0u);
  EXPECT_EQ(FolderNames(dir.Path()), slowPart);
  // The workers held the library until they ended; now it is gone.
  EXPECT_EQ(GetModuleHandleA(kDownloadLibraryName), nullptr);
}

TEST_F(ReleaseTest, WorksRightAfterTheWindowWasDestroyed) {
  TempDir dir;
  RecordWindow window;
  LoadedService service;
  ASSERT_TRUE(service.IsValid());
  const auto tasks = StartRunningTasks(service.operator->(), &window, dir.Path());
  window.Destroy();
  const DWORD start = GetTickCount();
  service.Unload();
  EXPECT_LT(GetTickCount() - start, 1500u);
  PumpFor(kReceiveMs + 1500);
  EXPECT_EQ(FolderNames(dir.Path()), SlowPartNames(dir.Path())) << "only the slow one's part stays";
  EXPECT_EQ(SlowPartNames(dir.Path()).size(), 2u);
}

TEST_F(ReleaseTest, ARecordOnItsWayIsDeliveredBeforeReleaseReturns) {
  RecordWindow window;
  LoadedService service;
  ASSERT_TRUE(service.IsValid());
  const DownloadTaskParams quick = TaskRecord(server.Url("/quick"), "C:\\unused");
  const uint32_t task = service->CreateTask(kTaskLoadData, &quick, window.Handle());
  ASSERT_NE(task, 0u);
  // Without dispatching, the worker's record waits for this thread.
  ASSERT_TRUE(server.WaitForRequests("/quick", 1, 5000));
  Sleep(300);
  ASSERT_TRUE(window.Records().empty());
  // A task started while the service ends is refused.
  uint32_t startedDuringRelease = 12345;
  window.onRecord = [&](const Record&) {
    const DownloadTaskParams again = TaskRecord(server.Url("/quick"), "C:\\unused");
    startedDuringRelease = service->CreateTask(kTaskLoadData, &again, window.Handle());
  };
  const DWORD start = GetTickCount();
  service.Unload();
  EXPECT_LT(GetTickCount() - start, 1500u);
  ASSERT_EQ(window.RecordsOf(task).size(), 1u);
  EXPECT_EQ(window.RecordsOf(task)[0].Data(), "quick");
  // The record of what became of the request and the final record travel
  // together: both arrived before Release returned.
  EXPECT_TRUE(window.DetailsOf(task).present);
  EXPECT_EQ(startedDuringRelease, 0u);
  PumpFor(300);
  EXPECT_EQ(window.Records().size(), 2u);
}

TEST_F(ReleaseTest, CanBeCalledFromInsideARecordsHandler) {
  TempDir dir;
  RecordWindow window;
  LoadedService service;
  ASSERT_TRUE(service.IsValid());
  const DownloadTaskParams slowFile = TaskRecord(server.Url("/slow"), dir.Path(), "slow.bin");
  const uint32_t task = service->CreateTask(kTaskDownloadFile, &slowFile, window.Handle());
  ASSERT_NE(task, 0u);
  bool released = false;
  DWORD took = 0;
  window.onRecord = [&](const Record&) {
    if (released) return;
    released = true;
    const DWORD start = GetTickCount();
    service.Unload();  // the worker that sent this record is still waiting for us
    took = GetTickCount() - start;
  };
  ASSERT_TRUE(testing_support::PumpMessagesUntil([&] { return released; }, 5000));
  EXPECT_LT(took, 1500u);
  const size_t seen = window.Records().size();
  PumpFor(500);
  EXPECT_EQ(window.Records().size(), seen);
  EXPECT_TRUE(FolderNames(dir.Path()).empty());
}

TEST_F(ReleaseTest, QueuedTasksBeyondTheWorkersNeverStartOnceReleased) {
  RecordWindow window;
  LoadedService service;
  ASSERT_TRUE(service.IsValid());
  // More hanging loads than workers: the rest wait in the queue.
  std::vector<uint32_t> tasks;
  for (int i = 0; i < 8; ++i) {
    const DownloadTaskParams hang = TaskRecord(server.Url("/hang"), "C:\\unused");
    tasks.push_back(service->CreateTask(kTaskLoadData, &hang, window.Handle()));
    ASSERT_NE(tasks.back(), 0u);
  }
  ASSERT_TRUE(server.WaitForRequests("/hang", 4, 5000));
  Sleep(200);
  EXPECT_EQ(server.Requests("/hang").size(), 4u);  // the pool's size
  service.Unload();
  PumpFor(kReceiveMs + 1000);
  EXPECT_EQ(server.Requests("/hang").size(), 4u);
  EXPECT_TRUE(window.Records().empty());
}

TEST_F(ReleaseTest, AnIdleServiceEndsAtOnce) {
  LoadedService service;
  ASSERT_TRUE(service.IsValid());
  const DWORD start = GetTickCount();
  service.Unload();
  EXPECT_LT(GetTickCount() - start, 200u);
}

}  // namespace
}  // namespace download_test
