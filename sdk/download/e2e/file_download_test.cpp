// File downloads (kind 1) through Download.dll against the loopback endpoint:
// progress records, then exactly one record of status 3 or 4; the final name
// changes only when the whole body arrived, and no temporary file stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>

#include "loopback_endpoint.h"
#include "resume_rules.h"
#include "service_harness.h"
#include "test_support.h"

namespace download_test {
namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

constexpr DWORD kReceiveMs = kTestReceiveMs;

class FileDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(service.IsValid());
  }

  uint32_t Download(const std::string& url, const std::string& folder, const std::string& name) {
    const DownloadTaskParams p = TaskRecord(url, folder, name);
    return service->CreateTask(kTaskDownloadFile, &p, window.Handle());
  }

  // Checks the records of a finished task: statuses 1/2 before one final
  // record that comes last, byte counts that never go back.
  void CheckRecords(uint32_t task, int32_t finalStatus, const char* name) {
    const auto records = window.RecordsOf(task);
    ASSERT_FALSE(records.empty()) << name;
    int32_t lastLoaded = 0;
    for (size_t i = 0; i < records.size(); ++i) {
      ASSERT_EQ(records[i].id, kDownloadNoticeId) << name;
      ASSERT_EQ(records[i].bytes.size(), sizeof(DownloadNotice)) << name;
      const DownloadNotice n = records[i].Notice();
      if (i + 1 < records.size()) {
        EXPECT_TRUE(n.status == kDownloadStarted || n.status == kDownloadProgress ||
                    n.status == kDownloadReconnecting)
            << name;
      } else {
        EXPECT_EQ(n.status, finalStatus) << name;
      }
      EXPECT_GE(n.loaded, lastLoaded) << name;
      lastLoaded = n.loaded;
    }
    // What became of the request comes once, just before the final record.
    const Details details = window.DetailsOf(task);
    EXPECT_TRUE(details.present) << name;
    if (finalStatus == kDownloadFinished) {
      EXPECT_EQ(details.error, 0u) << name;
      EXPECT_GE(details.httpStatus, 200u) << name;
      EXPECT_LT(details.httpStatus, 300u) << name;
    }
  }

  endpoint::LoopbackEndpoint server;
  RecordWindow window;
  LoadedService service;
};


// Faults before any byte of the file arrived (broken transfers are carried
// on: see the resume tests below).
TEST_F(FileDownloadTest, EachFaultFailsAndKeepsTheOlderFileAndSuccessReplacesIt) {
  TempDir dir;
  const std::string payload = Pattern(3 * 1024 * 1024 + 17);
  const std::string old = "an older file";

  endpoint::Reply hang;
  hang.hang = true;
  endpoint::Reply late = Body(payload);
  late.delayMs = 400;  // within the time-out
  endpoint::Reply chunked = Body(payload);
  chunked.chunked = true;
  endpoint::Reply toFile;
  toFile.redirectTo = "/file";
  endpoint::Reply loop;
  loop.redirectTo = "/loop";
  server.Route("/file", Body(payload));
  server.Route("/empty", Body(""));
  server.Route("/500", Body("broken", 500));
  server.Route("/hang", hang);
  server.Route("/late", late);
  server.Route("/chunked", chunked);
  server.Route("/to-file", toFile);
  server.Route("/loop", loop);
  const std::string refused = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/file";

  const struct {
    const char* name;
    std::string url;
    bool ok;
    std::string expected;  // the file's bytes on success
    int32_t total;         // the total of the final record
  } cases[] = {
      {"ok", server.Url("/file"), true, payload, static_cast<int32_t>(payload.size())},
      {"empty file", server.Url("/empty"), true, "", 0},
      {"late answer", server.Url("/late"), true, payload, static_cast<int32_t>(payload.size())},
      {"no Content-Length", server.Url("/chunked"), true, payload,
       static_cast<int32_t>(payload.size())},
      {"redirect followed", server.Url("/to-file"), true, payload,
       static_cast<int32_t>(payload.size())},
      {"404", server.Url("/missing"), false, "", -1},
      {"500", server.Url("/500"), false, "", -1},
      {"refused connection", refused, false, "", -1},
      {"hang past the time-out", server.Url("/hang"), false, "", -1},
      {"redirect loop", server.Url("/loop"), false, "", -1},
  };
  // Each case downloads into a folder of its own that already holds an older
  // file at the final name.
  std::vector<uint32_t> tasks;
  std::vector<std::string> folders;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    folders.push_back(dir.File("case" + std::to_string(i)));
    ASSERT_TRUE(CreateDirectoryA(folders.back().c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folders.back() + "\\pkg.exe", old));
    tasks.push_back(Download(cases[i].url, folders.back(), "pkg.exe"));
    EXPECT_NE(tasks.back(), 0u) << cases[i].name;
  }
  ASSERT_TRUE(window.WaitForEnds(tasks, 30000));
  PumpFor(200);  // nothing may follow a final record
  for (size_t i = 0; i < tasks.size(); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(window.FinalRecords(tasks[i]), 1u) << c.name;
    CheckRecords(tasks[i], c.ok ? kDownloadFinished : kDownloadFailed, c.name);
    const DownloadNotice last = window.RecordsOf(tasks[i]).back().Notice();
    EXPECT_EQ(last.total, c.total) << c.name;
    if (c.ok) {
      EXPECT_EQ(last.loaded, static_cast<int32_t>(c.expected.size())) << c.name;
    }
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(folders[i] + "\\pkg.exe", bytes)) << c.name;
    EXPECT_TRUE(bytes == (c.ok ? c.expected : old)) << c.name << ": " << bytes.size() << " bytes";
    // No temporary file is left behind.
    EXPECT_EQ(FolderNames(folders[i]), std::vector<std::string>{"pkg.exe"}) << c.name;
  }
}

TEST_F(FileDownloadTest, DownloadsIntoAChineseFolderThatDoesNotExistYet) {
  TempDir dir;
  server.Route("/f", Body("payload"));
  // 淺 is 9c 5c: its second byte must not be taken for a separator.
  const std::string folder = dir.File("\x9c\x5c\\\xb2\xe2\xca\xd4");
  const uint32_t task = Download(server.Url("/f"), folder, "\x9c\x5c\xb0\xfc.exe");
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(window.WaitForEnds({task}, 10000));
  CheckRecords(task, kDownloadFinished, "chinese");
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(folder + "\\\x9c\x5c\xb0\xfc.exe", bytes));
  EXPECT_EQ(bytes, "payload");
  EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"\x9c\x5c\xb0\xfc.exe"});
  EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"\x9c\x5c"});
}

TEST_F(FileDownloadTest, DestinationProblemsFailWithoutTouchingAnything) {
  TempDir dir;
  server.Route("/f", Body("payload"));
  ASSERT_TRUE(WriteFileBytes(dir.File("a-file"), "x"));
  const struct {
    const char* name;
    std::string folder, file;
  } cases[] = {
      {"name with a folder in it", dir.Path(), "sub\\pkg.exe"},
      {"name climbing out", dir.Path(), "..\\pkg.exe"},
      {"name with a wildcard", dir.Path(), "pkg*.exe"},
      {"folder below a file", dir.File("a-file") + "\\sub", "pkg.exe"},
  };
  std::vector<uint32_t> tasks;
  for (const auto& c : cases) {
    tasks.push_back(Download(server.Url("/f"), c.folder, c.file));
    EXPECT_NE(tasks.back(), 0u) << c.name;
  }
  ASSERT_TRUE(window.WaitForEnds(tasks, 10000));
  for (size_t i = 0; i < tasks.size(); ++i) {
    EXPECT_EQ(window.FinalRecords(tasks[i]), 1u) << cases[i].name;
    CheckRecords(tasks[i], kDownloadFailed, cases[i].name);
  }
  EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"a-file"});
}

TEST_F(FileDownloadTest, ProgressIsReportedAtMostTenTimesASecond) {
  TempDir dir;
  const std::string payload = Pattern(640 * 1024);
  endpoint::Reply paced = Body(payload);
  paced.bytesPerSecond = 400 * 1024;  // about 1.6 s
  endpoint::Reply pacedChunked = paced;
  pacedChunked.chunked = true;
  server.Route("/paced", paced);
  server.Route("/paced-chunked", pacedChunked);
  const struct {
    const char* name;
    const char* path;
    int32_t total;  // what progress records announce
  } cases[] = {
      {"Content-Length", "/paced", static_cast<int32_t>(payload.size())},
      {"no Content-Length", "/paced-chunked", -1},
  };
  for (const auto& c : cases) {
    const DWORD start = GetTickCount();
    const uint32_t task = Download(server.Url(c.path), dir.Path(), "paced.bin");
    ASSERT_NE(task, 0u) << c.name;
    ASSERT_TRUE(window.WaitForEnds({task}, 15000)) << c.name;
    const DWORD took = GetTickCount() - start;
    CheckRecords(task, kDownloadFinished, c.name);
    const auto records = window.RecordsOf(task);
    const size_t progress = records.size() - 1;
    EXPECT_LE(progress, took / 100 + 2) << c.name << ": " << progress << " in " << took << " ms";
    EXPECT_GE(progress, 5u) << c.name << ": progress is reported while bytes arrive";
    EXPECT_EQ(records.front().Notice().status, kDownloadStarted) << c.name;
    EXPECT_EQ(records.front().Notice().loaded, 0) << c.name;
    for (size_t i = 0; i < progress; ++i) EXPECT_EQ(records[i].Notice().total, c.total) << c.name;
    EXPECT_EQ(records.back().Notice().loaded, static_cast<int32_t>(payload.size())) << c.name;
    EXPECT_EQ(records.back().Notice().total, static_cast<int32_t>(payload.size())) << c.name;
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(dir.File("paced.bin"), bytes));
    EXPECT_TRUE(bytes == payload) << c.name;
  }
}

TEST_F(FileDownloadTest, TheTemporaryFileSitsBesideTheFinalNameWhileBytesArrive) {
  TempDir dir;
  endpoint::Reply paced = Body(Pattern(300 * 1024));
  paced.bytesPerSecond = 300 * 1024;
  server.Route("/paced", paced);
  ASSERT_TRUE(WriteFileBytes(dir.File("pkg.exe"), "old"));
  const uint32_t task = Download(server.Url("/paced"), dir.Path(), "pkg.exe");
  ASSERT_NE(task, 0u);
  // Halfway: the older file is still whole and a temporary one grows beside it.
  ASSERT_TRUE(testing_support::PumpMessagesUntil(
      [&] {
        const auto records = window.RecordsOf(task);
        return !records.empty() && records.back().Notice().status == kDownloadProgress &&
               records.back().Notice().loaded >= 100 * 1024;
      },
      5000));
  // The partial file, named after the address, and its description.
  const auto names = FolderNames(dir.Path());
  ASSERT_EQ(names.size(), 3u);
  const std::string part = names[1];
  EXPECT_EQ(part.rfind("pkg.exe.", 0), 0u) << part;
  EXPECT_EQ(part.substr(part.size() - 5), ".part") << part;
  EXPECT_EQ(names[2], part + ".info");
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(dir.File("pkg.exe"), bytes));
  EXPECT_EQ(bytes, "old");
  ASSERT_TRUE(window.WaitForEnds({task}, 10000));
  EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"pkg.exe"});
}

// --- carrying on after a break ----------------------------------------------

// A reply of `body` that takes ranges, with the validator "v1".
endpoint::Reply Ranged(const std::string& body, const char* etag = "\"v1\"") {
  endpoint::Reply r = Body(body);
  r.ranges = true;
  r.etag = etag;
  return r;
}

bool Has(const std::vector<Record>& records, int32_t status) {
  for (const Record& r : records)
    if (r.Notice().status == status) return true;
  return false;
}

// A package broken off at 90 %, and one broken off three times in a row: the
// rest is asked for where it stopped, the file comes out whole, and the
// break costs little more than the bytes that were lost.
TEST_F(FileDownloadTest, BrokenTransfersAreCarriedOnWhereTheyStopped) {
  TempDir dir;
  const std::string big = Pattern(64 * 1024 * 1024);
  const std::string small = Pattern(3 * 1024 * 1024 + 5);
  // The large file is served from disk: a body in memory is copied for each
  // answer, which on a busy machine outlasts the tests' 1.5 s receive wait.
  ASSERT_TRUE(WriteFileBytes(dir.File("served.bin"), big));
  endpoint::Reply whole = Ranged("");
  whole.file = dir.File("served.bin");
  endpoint::Reply at90 = whole;
  at90.dropAfterBytes = static_cast<int64_t>(big.size()) * 9 / 10;
  endpoint::Reply chunk = Ranged(small);
  chunk.dropAfterBytes = 1024 * 1024;  // of each answer
  server.Route("/big", Script({at90, whole}));
  server.Route("/small", Script({chunk, chunk, chunk, Ranged(small)}));
  const struct {
    const char* name;
    const char* path;
    const std::string& payload;
    int64_t brokeAt;
    size_t requests;
    double costAtMost;  // bytes sent per byte of the file
  } cases[] = {
      {"a drop at 90 % of 64 MiB", "/big", big, at90.dropAfterBytes, 2, 1.15},
      {"three drops in a row", "/small", small, 1024 * 1024, 4, 1.15},
  };
  for (const auto& c : cases) {
    const std::string folder = dir.File(c.path + 1);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const uint64_t sentBefore = server.BytesSent();
    const uint32_t task = Download(server.Url(c.path), folder, "pkg.exe");
    ASSERT_NE(task, 0u) << c.name;
    ASSERT_TRUE(window.WaitForEnds({task}, 60000)) << c.name;
    EXPECT_EQ(window.FinalRecords(task), 1u) << c.name;
    CheckRecords(task, kDownloadFinished, c.name);
    EXPECT_TRUE(Has(window.RecordsOf(task), kDownloadReconnecting)) << c.name;
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(folder + "\\pkg.exe", bytes)) << c.name;
    EXPECT_TRUE(bytes == c.payload) << c.name << ": " << bytes.size() << " bytes";
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"pkg.exe"}) << c.name;
    const auto asked = server.Requests(c.path);
    ASSERT_EQ(asked.size(), c.requests) << c.name;
    EXPECT_EQ(asked[0].range, "") << c.name;
    EXPECT_EQ(asked[1].range, "bytes=" + std::to_string(c.brokeAt) + "-") << c.name;
    EXPECT_EQ(asked[1].ifRange, "\"v1\"") << c.name;
    const double cost = static_cast<double>(server.BytesSent() - sentBefore) / c.payload.size();
    EXPECT_LE(cost, c.costAtMost) << c.name;
  }
}

// Answers that are not the rest of the same file start it again from zero,
// and the file that comes out is the one the server has now.
TEST_F(FileDownloadTest, AnswersThatAreNotTheRestStartAgainFromZero) {
  TempDir dir;
  const std::string first = Pattern(2 * 1024 * 1024);
  const std::string changed = Pattern(2 * 1024 * 1024 + 1).substr(1);  // same size, other bytes
  const std::string longer = Pattern(3 * 1024 * 1024);
  const std::string shorter = Pattern(512 * 1024);
  endpoint::Reply broken = Ranged(first);
  broken.dropAfterBytes = 1024 * 1024;
  endpoint::Reply ignoring = Body(first);  // answers 200 to a range request
  const struct {
    const char* name;
    endpoint::Reply then;
    const std::string& expected;
    size_t requests;  // a whole file as the answer to the range request needs no third
  } cases[] = {
      {"ranges ignored", ignoring, first, 2},
      {"a new file (new ETag)", Ranged(changed, "\"v2\""), changed, 2},
      {"another total", Ranged(longer), longer, 3},
      {"nothing from there (416)", Ranged(shorter), shorter, 3},
  };
  for (const auto& c : cases) {
    const std::string folder = dir.File(std::to_string(&c - cases));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string path = "/case" + std::to_string(&c - cases);
    server.Route(path, Script({broken, c.then}));
    const uint32_t task = Download(server.Url(path), folder, "pkg.exe");
    ASSERT_NE(task, 0u) << c.name;
    ASSERT_TRUE(window.WaitForEnds({task}, 30000)) << c.name;
    EXPECT_EQ(window.FinalRecords(task), 1u) << c.name;
    CheckRecords(task, kDownloadFinished, c.name);
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(folder + "\\pkg.exe", bytes)) << c.name;
    EXPECT_TRUE(bytes == c.expected) << c.name << ": " << bytes.size() << " bytes";
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"pkg.exe"}) << c.name;
    const auto asked = server.Requests(path);
    ASSERT_EQ(asked.size(), c.requests) << c.name;
    EXPECT_EQ(asked[1].range, "bytes=1048576-") << c.name;
    if (c.requests == 3) {
      EXPECT_EQ(asked[2].range, "") << c.name << ": then the whole file";
    }
  }
}

// What arrived before the service ended (a launcher that was closed or
// killed) is carried on by the next one; a partial file of another address
// goes.
TEST_F(FileDownloadTest, WhatArrivedStaysForTheNextStartAndIsCarriedOn) {
  TempDir dir;
  const std::string payload = Pattern(4 * 1024 * 1024);
  endpoint::Reply slow = Ranged(payload);
  slow.bytesPerSecond = 2 * 1024 * 1024;
  server.Route("/pkg", Script({slow, Ranged(payload)}));
  ASSERT_TRUE(WriteFileBytes(dir.File("pkg.exe.0123456789abcdef.part"), "stale"));
  ASSERT_TRUE(WriteFileBytes(dir.File("pkg.exe.0123456789abcdef.part.info"), "url=x\ntotal=9\n"));
  const uint32_t first = Download(server.Url("/pkg"), dir.Path(), "pkg.exe");
  ASSERT_NE(first, 0u);
  ASSERT_TRUE(testing_support::PumpMessagesUntil(
      [&] {
        const auto records = window.RecordsOf(first);
        return !records.empty() && records.back().Notice().loaded >= 1024 * 1024;
      },
      10000));
  service.Unload();  // as when the launcher ends
  auto names = FolderNames(dir.Path());
  ASSERT_EQ(names.size(), 2u) << "the partial file and its description, the stale one gone";
  std::string part;
  ASSERT_TRUE(ReadFileBytes(dir.File(names[0]), part));
  ASSERT_GE(part.size(), 1024u * 1024u);
  EXPECT_TRUE(part == payload.substr(0, part.size()));

  LoadedService next;
  ASSERT_TRUE(next.IsValid());
  window.Forget();
  for (int i = 0; i < 500 && server.ActiveReplies() > 0; ++i) Sleep(10);
  const uint64_t sentBefore = server.BytesSent();
  const DownloadTaskParams p = TaskRecord(server.Url("/pkg"), dir.Path(), "pkg.exe");
  const uint32_t task = next->CreateTask(kTaskDownloadFile, &p, window.Handle());
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(window.WaitForEnds({task}, 30000));
  CheckRecords(task, kDownloadFinished, "next start");
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(dir.File("pkg.exe"), bytes));
  EXPECT_TRUE(bytes == payload);
  EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"pkg.exe"});
  EXPECT_EQ(server.Requests("/pkg").back().range, "bytes=" + std::to_string(part.size()) + "-");
  EXPECT_EQ(server.BytesSent() - sentBefore, payload.size() - part.size())
      << "only the rest was sent";
  EXPECT_EQ(window.RecordsOf(task).front().Notice().loaded, static_cast<int32_t>(part.size()));
}

// A server that keeps breaking off at the same place: the task gives up after
// its attempts, the older file stays, and what arrived is kept for later.
TEST_F(FileDownloadTest, ATransferThatMakesNoHeadwayFailsInTheEnd) {
  TempDir dir;
  endpoint::Reply stuck = Body(Pattern(1024 * 1024));  // no ranges: always from zero
  stuck.dropAfterBytes = 100 * 1024;
  stuck.etag = "\"stuck-1\"";  // what arrived may be carried on by a later start
  server.Route("/stuck", stuck);
  ASSERT_TRUE(WriteFileBytes(dir.File("pkg.exe"), "old"));
  const DWORD start = GetTickCount();
  const uint32_t task = Download(server.Url("/stuck"), dir.Path(), "pkg.exe");
  ASSERT_NE(task, 0u);
  ASSERT_TRUE(window.WaitForEnds({task}, 60000));
  EXPECT_GE(GetTickCount() - start, 15000u) << "the pauses between the attempts";
  CheckRecords(task, kDownloadFailed, "stuck");
  EXPECT_EQ(server.Requests("/stuck").size(), 1u + download::kResumeAttempts);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(dir.File("pkg.exe"), bytes));
  EXPECT_EQ(bytes, "old");
  EXPECT_EQ(FolderNames(dir.Path()).size(), 3u) << "the partial file stays for the next start";
}

}  // namespace
}  // namespace download_test
