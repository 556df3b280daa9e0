#include "file_work.h"

#include <gtest/gtest.h>

#include <vector>

#include "path_util.h"
#include "test_support.h"

namespace {

TEST(CopyRetry, OnlyAFileInUseIsWaitedFor) {
  EXPECT_TRUE(IsCopyRetryable(ERROR_SHARING_VIOLATION, true));
  EXPECT_TRUE(IsCopyRetryable(ERROR_LOCK_VIOLATION, true));
  EXPECT_TRUE(IsCopyRetryable(ERROR_ACCESS_DENIED, true));
  EXPECT_FALSE(IsCopyRetryable(ERROR_ACCESS_DENIED, false));  // a folder is in the way
  EXPECT_FALSE(IsCopyRetryable(ERROR_SHARING_VIOLATION, false));
  EXPECT_FALSE(IsCopyRetryable(ERROR_FILE_NOT_FOUND, true));
  EXPECT_FALSE(IsCopyRetryable(ERROR_DISK_FULL, true));
}

struct FakeCopy {
  std::vector<DWORD> outcomes;  // one per attempt; the last repeats
  bool targetIsFile = true;
  size_t attempts = 0;
  DWORD paused = 0;
  int retryNotices = 0;

  DWORD Run(DWORD limit, DWORD step) {
    return RetryCopy(
        [this] {
          const DWORD e = outcomes[attempts < outcomes.size() ? attempts : outcomes.size() - 1];
          ++attempts;
          return e;
        },
        [this] { return targetIsFile; }, [this](DWORD ms) { paused += ms; },
        [this](DWORD) { ++retryNotices; }, limit, step);
  }
};

TEST(CopyRetry, SucceedsOnceTheOwnerLetsGo) {
  FakeCopy copy;
  copy.outcomes = {ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, 0};
  EXPECT_EQ(copy.Run(15000, 250), 0u);
  EXPECT_EQ(copy.attempts, 3u);
  EXPECT_EQ(copy.paused, 500u);
  EXPECT_EQ(copy.retryNotices, 1);
}

TEST(CopyRetry, GivesUpWithTheLastErrorAfterTheLimit) {
  FakeCopy copy;
  copy.outcomes = {ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED};
  EXPECT_EQ(copy.Run(1000, 300), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(copy.paused, 1000u);  // 300 + 300 + 300 + 100
  EXPECT_EQ(copy.attempts, 5u);
}

TEST(CopyRetry, OtherFailuresAndFoldersFailAtOnce) {
  FakeCopy missing;
  missing.outcomes = {ERROR_FILE_NOT_FOUND};
  EXPECT_EQ(missing.Run(15000, 250), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing.attempts, 1u);

  FakeCopy folder;
  folder.outcomes = {ERROR_ACCESS_DENIED};
  folder.targetIsFile = false;
  EXPECT_EQ(folder.Run(15000, 250), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(folder.attempts, 1u);
  EXPECT_EQ(folder.paused, 0u);
  EXPECT_EQ(folder.retryNotices, 0);
}

TEST(CopyRetry, RealCopyWaitsForAFileHeldWithoutSharing) {
  testing_support::TempDir dir;
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("new.bin"), "new"));
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("old.bin"), "old"));
  HANDLE held = CreateFileA(dir.File("old.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DWORD error = 1;
  {
    testing_support::Background release([&] {
      Sleep(1200);
      CloseHandle(held);
    });
    error = CopyFileRetrying(dir.File("new.bin"), dir.File("old.bin"));
  }
  EXPECT_EQ(error, 0u);
  std::string bytes;
  ASSERT_TRUE(testing_support::ReadFileBytes(dir.File("old.bin"), bytes));
  EXPECT_EQ(bytes, "new");
}

TEST(CopyRetry, ACopyOntoItselfFailsAtOnce) {
  testing_support::TempDir dir(testing_support::TempName::kChinese);
  const std::string file = dir.File("Lumora.exe");
  ASSERT_TRUE(testing_support::WriteFileBytes(file, "launcher"));
  EXPECT_TRUE(IsSameFile(file, file));
  // Another spelling of the same file.
  ASSERT_TRUE(CreateDirectoryA(dir.File("Sub").c_str(), nullptr));
  EXPECT_TRUE(IsSameFile(file, dir.File("Sub\\..\\LUMORA.EXE")));
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("other.exe"), "launcher"));
  EXPECT_FALSE(IsSameFile(file, dir.File("other.exe")));
  EXPECT_FALSE(IsSameFile(file, dir.File("missing.exe")));
  EXPECT_FALSE(IsSameFile(dir.File("missing.exe"), dir.File("missing.exe")));

  // No retry notice in the log: the copy failed without waiting.
  DWORD error = 0;
  const std::string lines =
      testing_support::LogDuring([&] { error = CopyFileRetrying(file, file); });
  EXPECT_NE(error, 0u);
  EXPECT_EQ(lines.find("等待重试"), std::string::npos) << lines;
  std::string bytes;
  ASSERT_TRUE(testing_support::ReadFileBytes(file, bytes));
  EXPECT_EQ(bytes, "launcher");
}

TEST(CreateFolders, ChineseFolderNamesEndingIn0x5CAreCreatedWhole) {
  testing_support::TempDir dir(testing_support::TempName::kChinese);
  // "下载淺" ends in 9C 5C: a byte-wise walk would try "...\\下载\x9c" first.
  EXPECT_TRUE(CreateMissingDirectories(dir.File("下载淺\\游戏淺\\")));
  EXPECT_TRUE(FolderExists(dir.File("下载淺\\游戏淺")));
  EXPECT_TRUE(CreateMissingDirectories(dir.File("下载淺\\Sub\\x.exe")));
  EXPECT_TRUE(FolderExists(dir.File("下载淺\\Sub\\x.exe")));
}

TEST(CreateFolders, CreatesTheWholeChainAndRefusesOverlongPaths) {
  testing_support::TempDir dir;
  EXPECT_TRUE(CreateMissingDirectories(dir.File("a\\b/c\\")));
  EXPECT_TRUE(FolderExists(dir.File("a\\b\\c")));
  // A file path's last part becomes a folder as well.
  EXPECT_TRUE(CreateMissingDirectories(dir.File("a\\d\\e")));
  EXPECT_TRUE(FolderExists(dir.File("a\\d\\e")));
  // Relative paths start at the current directory.
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
  EXPECT_TRUE(CreateMissingDirectories("x\\..\\y\\z"));
  SetCurrentDirectoryA(current);
  EXPECT_TRUE(FolderExists(dir.File("y\\z")));
  EXPECT_FALSE(FolderExists(dir.File("x")));

  const std::string deep = dir.File(std::string(300, 'q'));
  EXPECT_FALSE(CreateMissingDirectories(deep));
  EXPECT_FALSE(PathExists(deep.substr(0, dir.Path().size() + 100)));
}

}  // namespace
