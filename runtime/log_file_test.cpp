#include "log_file.h"

#include <gtest/gtest.h>

#include <regex>

#include "test_support.h"

using namespace testing_support;

TEST(LogLine, ExactBytesOfTheWorkedExample) {
  SYSTEMTIME t{};
  t.wYear = 2014, t.wMonth = 4, t.wDay = 4, t.wHour = 9, t.wMinute = 5, t.wSecond = 7;
  t.wMilliseconds = 42;
  char line[kLogMessageLimit + 64];
  const size_t n = FormatLogLine(line, sizeof line, 0, t, "abc\n");
  EXPECT_EQ(std::string(line, n), "index=0,time:20140404_090507042:abc\n\r\n");

  // Program text is code page 936: the message keeps its GBK bytes.
  const size_t m = FormatLogLine(line, sizeof line, 1, t, "日志\n");
  EXPECT_EQ(std::string(line, m),
            "index=1,time:20140404_090507042:\xC8\xD5\xD6\xBE\n\r\n");
}

TEST(LogLine, LongestMessageFitsTheLineBuffer) {
  SYSTEMTIME t{};
  t.wYear = 9999, t.wMonth = 12, t.wDay = 31;
  const std::string text(kLogMessageLimit, 'x');
  char line[kLogMessageLimit + 64];
  EXPECT_GT(FormatLogLine(line, sizeof line, INT32_MIN, t, text.c_str()), kLogMessageLimit);
  char small[16];
  EXPECT_EQ(FormatLogLine(small, sizeof small, 0, t, "abc"), 0u);
}

TEST(LogCut, ALongChineseMessageIsCutBetweenCharacters) {
  // "x" and 800 times 淺 (9C 5C): the 1600th byte is the first half of one.
  std::string text = "x";
  for (int i = 0; i < 800; ++i) text += "淺";
  const std::string lines = LogDuring([&] { WriteLog(text.c_str()); });
  const size_t time = lines.find(",time:");
  ASSERT_NE(time, std::string::npos) << lines;
  const size_t colon = lines.find(':', time + 6);
  EXPECT_EQ(lines.substr(colon + 1), text.substr(0, 1599) + "\r\n");
}

class LogFileProgram : public ::testing::Test {
 protected:
  int RunWriter(const std::string& args) {
    return RunAndWait("\"" + ProgramDir() + "log_writer.exe\" Log\\starter.log " + args,
                      dir_.Path());
  }
  std::string Log() {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(dir_.File("Log\\starter.log"), bytes));
    return bytes;
  }
  TempDir dir_;
};

TEST_F(LogFileProgram, CreatesTheFolderAndNumbersTheLines) {
  ASSERT_EQ(RunWriter("first second"), 2);
  const std::regex shape(
      "index=0,time:\\d{8}_\\d{9}:first\n\r\n"
      "index=1,time:\\d{8}_\\d{9}:second\n\r\n");
  EXPECT_TRUE(std::regex_match(Log(), shape)) << Log();
}

TEST_F(LogFileProgram, EachRunRecreatesTheLog) {
  ASSERT_EQ(RunWriter("one two three"), 3);
  ASSERT_EQ(RunWriter("again"), 1);
  const std::string log = Log();
  EXPECT_EQ(log.find("one"), std::string::npos);
  EXPECT_TRUE(std::regex_match(log, std::regex("index=0,time:\\d{8}_\\d{9}:again\n\r\n"))) << log;
}

TEST_F(LogFileProgram, LongMessageIsCutAt1600Bytes) {
  ASSERT_EQ(RunWriter("@2000:y short"), 2);
  const std::string log = Log();
  const std::string prefix = "index=0,time:00000000_000000000:";
  ASSERT_GT(log.size(), prefix.size());
  const size_t start = prefix.size();
  EXPECT_EQ(log.substr(start, 1602), std::string(1600, 'y') + "\r\n");
  EXPECT_NE(log.find(":short\n\r\n"), std::string::npos);
}

TEST_F(LogFileProgram, UnwritableLogIsSilentlyOff) {
  // A file named "Log" keeps both the open and the folder creation from working.
  ASSERT_TRUE(WriteFileBytes(dir_.File("Log"), "not a folder"));
  EXPECT_EQ(RunWriter("lost lost"), 0);
}
