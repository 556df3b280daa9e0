// A writer killed at any moment leaves a sound database holding every write
// whose flush() had returned.
#include <windows.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "json_util.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;

// Move-only owner of a handle.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    std::swap(h_, other.h_);
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }
  HANDLE* Out() { return &h_; }
  void Reset() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_;
};

// The writer process with its output pipe; killed on every path.
class Writer {
 public:
  bool Start(const std::string& folder) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(read_.Out(), write_.Out(), &inherit, 0)) return false;
    SetHandleInformation(read_.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_.Get();
    startup.hStdError = write_.Get();
    startup.hStdInput = nullptr;
    std::string command = "\"" + testing_support::ProgramDir() + "store_writer.exe\" \"" + folder + "\"";
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
      ADD_FAILURE() << testing_support::StartFailure(command);
      return false;
    }
    process_ = Handle(info.hProcess);
    CloseHandle(info.hThread);
    write_.Reset();  // the child holds the only write end now
    return true;
  }

  ~Writer() { Kill(); }

  void Kill() {
    if (process_.Get() != nullptr) {
      TerminateProcess(process_.Get(), 99);
      WaitForSingleObject(process_.Get(), 10000);
      process_.Reset();
    }
  }

  // Reads what has arrived (waiting up to `timeoutMs` for anything); false
  // when the pipe is closed and empty, or nothing came in time.
  bool ReadSome(std::string& text, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(read_.Get(), nullptr, 0, nullptr, &available, nullptr)) return false;
      if (available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(read_.Get(), buffer, sizeof buffer < available ? sizeof buffer : available,
                      &got, nullptr))
          return false;
        text.append(buffer, got);
        return true;
      }
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(1);
    }
  }

  // All that the dead process left in the pipe.
  void Drain(std::string& text) {
    while (ReadSome(text, 0)) {
    }
  }

  HANDLE Process() const { return process_.Get(); }

 private:
  Handle read_, write_, process_;
};

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

// The last complete number reported.
int LastReported(const std::string& text) {
  const size_t end = text.find_last_of('\n');
  if (end == std::string::npos) return 0;
  const size_t begin = text.find_last_of('\n', end - 1);
  return std::atoi(text.c_str() + (begin == std::string::npos || end == 0 ? 0 : begin + 1));
}

// Reads the database as a fresh opener would: integrity and the counter.
void Inspect(const std::string& path, std::string& integrity, int& counter) {
  integrity.clear();
  counter = -1;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr), SQLITE_OK);
  while (sqlite3_step(stmt) == SQLITE_ROW)
    integrity += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT value FROM config WHERE name='CFG_Counter'", -1, &stmt,
                               nullptr),
            SQLITE_OK);
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    Json::Value value;
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    if (text != nullptr && rt::ParseJson(text, value)) counter = rt::IntMember(value, "n", -2);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

// The first complete number reported.
int FirstReported(const std::string& text) { return std::atoi(text.c_str()); }

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(StoreDurability, WriterKilledAtAnyMomentLosesNoFlushedWrite) {
  TempDir dir;
  TempDir copies;
  const std::string path = dir.File("Config\\config.db");
  const DWORD start = GetTickCount();
  int previous = 0;
  int hotJournals = 0;
  int onePast = 0;
  const int rounds = 24;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Writer writer;
    ASSERT_TRUE(writer.Start(dir.Path()));
    // Let it report a varying number of flushed writes, then kill it a
    // varying moment later, mostly in the middle of a write.
    const int reports = 1 + round % 3;
    std::string text;
    while (CountLines(text) < reports) {
      ASSERT_TRUE(writer.ReadSome(text, 10000)) << "the writer stopped reporting: " << text;
    }
    if (round % 3 == 1) Sleep(static_cast<DWORD>(round % 7));
    writer.Kill();
    writer.Drain(text);
    // The new writer went on from what the last one left, after the library
    // had rolled back any half-done write.
    EXPECT_EQ(FirstReported(text), previous + 1);
    const int flushed = LastReported(text);
    ASSERT_GT(flushed, previous);

    // Inspect a copy as a fresh opener would see it, leaving any hot journal
    // in place for the next writer's library to deal with.
    const std::string copy = copies.File("round" + std::to_string(round) + ".db");
    ASSERT_TRUE(CopyFileA(path.c_str(), copy.c_str(), FALSE));
    if (Exists(path + "-journal")) {
      ++hotJournals;
      ASSERT_TRUE(CopyFileA((path + "-journal").c_str(), (copy + "-journal").c_str(), FALSE));
    }
    std::string integrity;
    int stored = 0;
    Inspect(copy, integrity, stored);
    EXPECT_EQ(integrity, "ok");
    // Every flushed write is there; at most the one in progress went further.
    EXPECT_GE(stored, flushed);
    EXPECT_LE(stored, flushed + 1);
    onePast += stored == flushed + 1;
    previous = stored;
  }
  std::printf("[ figures  ] %d kills in %lu ms; a journal was left %d times; the write in "
              "progress had completed %d times\n",
              rounds, GetTickCount() - start, hotJournals, onePast);
}

}  // namespace
