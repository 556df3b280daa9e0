#include "task_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace download {
namespace {

DownloadTaskParams Record(const char* url, const char* folder = "", const char* name = "") {
  DownloadTaskParams p;
  std::memset(&p, 0, sizeof p);
  std::strncpy(p.url, url, sizeof p.url - 1);
  std::strncpy(p.folder, folder, sizeof p.folder - 1);
  std::strncpy(p.name, name, sizeof p.name - 1);
  return p;
}

TEST(FieldLength, StopsAtTheFieldsEnd) {
  char field[4] = {'a', 'b', 0, 'c'};
  EXPECT_EQ(FieldLength(field, 4), 2u);
  char full[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(FieldLength(full, 4), 4u);  // no terminator: the whole field
  char empty[4] = {0, 'x', 'y', 'z'};
  EXPECT_EQ(FieldLength(empty, 4), 0u);
}

TEST(ReadTask, RefusesBadRecords) {
  const DownloadTaskParams good = Record("http://h/x", "C:\\d", "f.exe");
  DownloadTaskParams noTerminator[4] = {good, good, good, good};
  std::memset(noTerminator[0].text, 'a', sizeof noTerminator[0].text);
  std::memset(noTerminator[1].name, 'a', sizeof noTerminator[1].name);
  std::memset(noTerminator[2].folder, 'a', sizeof noTerminator[2].folder);
  std::memset(noTerminator[3].url, 'a', sizeof noTerminator[3].url);
  DownloadTaskParams emptyUrl = Record("", "C:\\d", "f.exe");
  DownloadTaskParams noName = Record("http://h/x", "C:\\d", "");
  DownloadTaskParams badName = Record("http://h/x", "C:\\d", "\x81");  // a lead byte alone
  DownloadTaskParams badFolder = Record("http://h/x", "C:\\\xff\xff", "f.exe");

  const struct {
    uint32_t kind;
    const DownloadTaskParams* params;
    bool window;
    Refusal expected;
  } cases[] = {
      {2, &good, true, Refusal::BadKind},
      {0xffffffffu, &good, true, Refusal::BadKind},
      {1, nullptr, true, Refusal::NoRecord},
      {1, &good, false, Refusal::NoWindow},
      {0, &noTerminator[0], true, Refusal::Unterminated},
      {1, &noTerminator[1], true, Refusal::Unterminated},
      {0, &noTerminator[2], true, Refusal::Unterminated},
      {1, &noTerminator[3], true, Refusal::Unterminated},
      {0, &emptyUrl, true, Refusal::EmptyUrl},
      {1, &emptyUrl, true, Refusal::EmptyUrl},
      {1, &noName, true, Refusal::NoFileName},
      {1, &badName, true, Refusal::BadText},
      {1, &badFolder, true, Refusal::BadText},
      // A data load needs neither a name nor a valid folder.
      {0, &noName, true, Refusal::None},
      {0, &badFolder, true, Refusal::None},
      {1, &good, true, Refusal::None},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    TaskOrder order;
    EXPECT_EQ(ReadTask(cases[i].kind, cases[i].params, cases[i].window, order), cases[i].expected)
        << "case " << i;
  }
}

TEST(ReadTask, KeepsTheTextsOfAFileDownloadAsUtf16) {
  // 淺 is 9c 5c: its second byte is a backslash and must not split the folder.
  DownloadTaskParams p = Record("http://h/\xc8\xd5.exe", "C:\\\x9c\x5c\\\xb2\xe2", "\x9c\x5c.exe");
  p.url[sizeof p.url - 2] = 'x';  // bytes after the terminator do not count
  TaskOrder order;
  ASSERT_EQ(ReadTask(1, &p, true, order), Refusal::None);
  EXPECT_EQ(order.kind, 1u);
  EXPECT_EQ(order.url, "http://h/\xc8\xd5.exe");
  EXPECT_EQ(order.folder, L"C:\\\u6dfa\\\u6d4b");
  EXPECT_EQ(order.name, L"\u6dfa.exe");
}

TEST(ReadTask, TakesTextsThatFillTheirFieldsExactly) {
  DownloadTaskParams p = Record("");
  std::memset(p.url, 'u', sizeof p.url - 1);
  std::memset(p.name, 'n', sizeof p.name - 1);
  std::memset(p.folder, 'f', sizeof p.folder - 1);
  std::memset(p.text, 't', sizeof p.text - 1);
  TaskOrder order;
  ASSERT_EQ(ReadTask(1, &p, true, order), Refusal::None);
  EXPECT_EQ(order.url.size(), sizeof p.url - 1);
  EXPECT_EQ(order.name.size(), sizeof p.name - 1);
  EXPECT_EQ(order.folder.size(), sizeof p.folder - 1);
}

TEST(ReadTaskOptions, TakesOnlyOptionsThisLibraryKnows) {
  DownloadTaskOptions record{};
  record.structSize = sizeof record;
  record.flags = kTaskOptionSendOnce | kTaskOptionSizeLimit | kTaskOptionDigest |
                 kTaskOptionReportFile;
  record.size = 8000000;
  for (int i = 0; i < 32; ++i) record.sha256[i] = static_cast<uint8_t>(0xA0 + i);
  TaskOptions options;
  ASSERT_TRUE(ReadTaskOptions(&record, options));
  EXPECT_TRUE(options.sendOnce);
  EXPECT_EQ(options.sizeLimit, 8000000);
  EXPECT_TRUE(options.hasDigest);
  EXPECT_EQ(options.digest[31], 0xA0 + 31);
  EXPECT_TRUE(options.reportFile);

  DownloadTaskOptions plain{};
  plain.structSize = sizeof plain;
  plain.size = 77;  // not asked for: no limit
  ASSERT_TRUE(ReadTaskOptions(&plain, options));
  EXPECT_FALSE(options.sendOnce);
  EXPECT_EQ(options.sizeLimit, -1);
  EXPECT_FALSE(options.hasDigest);
  EXPECT_FALSE(options.reportFile);

  DownloadTaskOptions unknownFlag = plain;
  unknownFlag.flags = 0x100;
  DownloadTaskOptions otherSize = plain;
  otherSize.structSize = sizeof plain + 8;
  DownloadTaskOptions negative = plain;
  negative.flags = kTaskOptionSizeLimit;
  negative.size = -5;
  EXPECT_FALSE(ReadTaskOptions(nullptr, options));
  EXPECT_FALSE(ReadTaskOptions(&unknownFlag, options)) << "never believed to hold";
  EXPECT_FALSE(ReadTaskOptions(&otherSize, options));
  EXPECT_FALSE(ReadTaskOptions(&negative, options));
}

}  // namespace
}  // namespace download
