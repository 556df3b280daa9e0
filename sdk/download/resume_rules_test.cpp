#include "resume_rules.h"

#include <gtest/gtest.h>

namespace download {
namespace {

TEST(ResumeRules, ReadsContentRange) {
  const struct {
    const wchar_t* text;
    bool ok;
    ContentRange range;
  } cases[] = {
      {L"bytes 100-199/200", true, {false, 100, 199, 200}},
      {L"  Bytes  0-0/1 ", true, {false, 0, 0, 1}},
      {L"bytes 5-9/*", true, {false, 5, 9, -1}},
      {L"bytes */4096", true, {true, -1, -1, 4096}},
      {L"bytes 0-4294967296/4294967297", true, {false, 0, 4294967296LL, 4294967297LL}},
      {L"bytes */*", false, {}},
      {L"bytes 10-5/20", false, {}},       // last before first
      {L"bytes 0-20/20", false, {}},       // beyond the total
      {L"bytes 0-9/20 x", false, {}},
      {L"bytes=0-9/20", false, {}},
      {L"items 0-9/20", false, {}},
      {L"bytes -5/20", false, {}},
      {L"bytes 0-9", false, {}},
      {L"bytes 0-99999999999999999999/1", false, {}},  // overflow
      {L"", false, {}},
  };
  for (const auto& c : cases) {
    ContentRange range;
    ASSERT_EQ(ParseContentRange(c.text, range), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(range.unsatisfied, c.range.unsatisfied) << c.text;
    EXPECT_EQ(range.first, c.range.first) << c.text;
    EXPECT_EQ(range.last, c.range.last) << c.text;
    EXPECT_EQ(range.total, c.range.total) << c.text;
  }
}

// Only the rest of the same file is appended; everything else starts again.
TEST(ResumeRules, AppendsOnlyTheRestOfTheSameFile) {
  const struct {
    DWORD status;
    const wchar_t* contentRange;
    int64_t expected;
    RangeAnswer answer;
  } cases[] = {
      {206, L"bytes 900-999/1000", 1000, RangeAnswer::Append},
      {206, L"bytes 900-999/1000", -1, RangeAnswer::Append},     // no total known before
      {200, L"", 1000, RangeAnswer::Restart},                     // ranges ignored: whole body
      {206, L"bytes 900-999/1001", 1000, RangeAnswer::Refetch},  // another file now
      {206, L"bytes 800-999/1000", 1000, RangeAnswer::Refetch},  // not from where it stopped
      {206, L"bytes 900-949/1000", 1000, RangeAnswer::Refetch},  // not to the end
      {206, L"bytes 900-999/*", 1000, RangeAnswer::Refetch},     // a total nobody vouches for
      {206, L"", 1000, RangeAnswer::Refetch},
      {416, L"bytes */1000", 1000, RangeAnswer::Refetch},
      {204, L"", 1000, RangeAnswer::Refetch},
      {500, L"", 1000, RangeAnswer::Refetch},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgeRangeAnswer(c.status, c.contentRange, 900, c.expected), c.answer)
        << c.status << " " << c.contentRange;
  }
}

TEST(ResumeRules, PartNamesFollowTheAddressAndFitAFileName) {
  const std::wstring a = PartName(L"Orlune.pkg.exe", "http://h/a/Orlune.pkg.exe");
  EXPECT_EQ(a.size(), std::wstring(L"Orlune.pkg.exe").size() + 22);
  EXPECT_EQ(a.compare(0, 15, L"Orlune.pkg.exe."), 0);
  EXPECT_EQ(a.substr(a.size() - 5), L".part");
  EXPECT_EQ(a, PartName(L"Orlune.pkg.exe", "http://h/a/Orlune.pkg.exe")) << "the same in every start";
  EXPECT_NE(a, PartName(L"Orlune.pkg.exe", "http://h/b/Orlune.pkg.exe"));
  EXPECT_EQ(PartInfoName(a), a + L".info");
  const std::wstring fits(255 - 22, L'n');
  EXPECT_EQ(PartName(fits, "u").size(), 255u);
  const std::wstring longer(256 - 22, L'n');
  EXPECT_EQ(PartName(longer, "u").compare(0, 10, L"~download."), 0);
}

TEST(ResumeRules, PartInfoReadsBackAndVouchesForItsBytes) {
  PartInfo info;
  info.url = "https://cdn.example/Orlune.pkg.exe?v=5";
  info.total = 67108864;
  info.etag = "\"5e-abc\"";
  info.lastModified = "Mon, 07 Dec 2026 10:00:00 GMT";
  PartInfo read;
  ASSERT_TRUE(ParsePartInfo(PartInfoText(info), read));
  EXPECT_EQ(read.url, info.url);
  EXPECT_EQ(read.total, info.total);
  EXPECT_EQ(read.etag, info.etag);
  EXPECT_EQ(read.lastModified, info.lastModified);
  // A value cannot add a line of its own.
  PartInfo sneaky = info;
  sneaky.etag = "\"x\"\ntotal=5";
  ASSERT_TRUE(ParsePartInfo(PartInfoText(sneaky), read));
  EXPECT_EQ(read.total, info.total);
  for (const char* bad : {"", "total=5\n", "url=u\ntotal=x\n", "url=u\ntotal=5\nno equals\n"})
    EXPECT_FALSE(ParsePartInfo(bad, read)) << bad;

  EXPECT_EQ(IfRangeValue(info), "\"5e-abc\"");
  PartInfo weak = info;
  weak.etag = "W/\"5e\"";
  EXPECT_EQ(IfRangeValue(weak), info.lastModified) << "a weak ETag cannot vouch for bytes";

  EXPECT_TRUE(CanResume(info, info.url, 1000));
  EXPECT_FALSE(CanResume(info, info.url + "&x", 1000)) << "another address";
  EXPECT_FALSE(CanResume(info, info.url, 0));
  EXPECT_FALSE(CanResume(info, info.url, info.total)) << "nothing left to ask for";
  PartInfo bare;
  bare.url = info.url;
  EXPECT_FALSE(CanResume(bare, info.url, 1000)) << "nothing vouches for the bytes";
  bare.total = 5000;
  EXPECT_TRUE(CanResume(bare, info.url, 1000)) << "the total at least, within one task";

  // Across starts the total alone does not vouch: a file published again at
  // the same address with the same size would be joined from two files.
  const std::string digest(64, 'a');
  EXPECT_FALSE(CanCarryOver(bare, info.url, 1000, "", -1));
  EXPECT_FALSE(CanCarryOver(bare, info.url, 1000, digest, -1)) << "no digest recorded";
  PartInfo signedPart = bare;
  signedPart.sha256 = digest;
  EXPECT_TRUE(CanCarryOver(signedPart, info.url, 1000, digest, -1)) << "the same signed digest";
  EXPECT_TRUE(CanCarryOver(signedPart, info.url, 1000, digest, 5000));
  EXPECT_FALSE(CanCarryOver(signedPart, info.url, 1000, std::string(64, 'b'), -1))
      << "another digest is another file";
  EXPECT_FALSE(CanCarryOver(signedPart, info.url, 1000, "", -1)) << "nothing signed now";
  EXPECT_FALSE(CanCarryOver(signedPart, info.url, 1000, digest, 4999)) << "not the signed size";
  EXPECT_TRUE(CanCarryOver(info, info.url, 1000, "", -1)) << "a strong ETag";
  PartInfo dated = bare;
  dated.lastModified = info.lastModified;
  EXPECT_TRUE(CanCarryOver(dated, info.url, 1000, "", -1)) << "Last-Modified";
  PartInfo weakOnly = bare;
  weakOnly.etag = "W/\"5e\"";
  EXPECT_FALSE(CanCarryOver(weakOnly, info.url, 1000, "", -1)) << "a weak ETag";
  EXPECT_FALSE(CanCarryOver(info, info.url + "&x", 1000, "", -1)) << "another address";
  EXPECT_FALSE(CanCarryOver(info, info.url, 67108864, "", -1)) << "nothing left";

  // The digest travels in the description; an older description has none.
  ASSERT_TRUE(ParsePartInfo(PartInfoText(signedPart), read));
  EXPECT_EQ(read.sha256, digest);
  ASSERT_TRUE(ParsePartInfo("url=u\ntotal=5\netag=\nmodified=\n", read));
  EXPECT_EQ(read.sha256, "");
}

// A data load goes out again only when it failed before any answer began,
// not by a time-out, and it may be sent more than once.
TEST(ResumeRules, DataLoadsAreSentAgainOnlyBeforeAnyAnswer) {
  const struct {
    bool sendOnce, broken, answered, timedOut, retry;
  } cases[] = {
      {false, true, false, false, true},    // refused, name not resolved, reset before the answer
      {false, true, false, true, false},    // a time-out
      {false, true, true, false, false},    // a body cut short
      {false, true, true, true, false},     // a time-out in the body
      {false, false, true, false, false},   // an HTTP status
      {false, false, false, false, false},  // a refused certificate, a bad address
      {true, true, false, false, false},    // counts something on the server: once
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MayRetryLoad(c.sendOnce, c.broken, c.answered, c.timedOut), c.retry)
        << c.sendOnce << c.broken << c.answered << c.timedOut;
  }
}

TEST(ResumeRules, PausesGrow) {
  DWORD last = 0, sum = 0;
  for (int attempt = 1; attempt <= kResumeAttempts; ++attempt) {
    EXPECT_GT(ResumePauseMs(attempt), last);
    last = ResumePauseMs(attempt);
    sum += last;
  }
  EXPECT_LE(sum, 20000u) << "a player waits at most some seconds before the failure shows";
  EXPECT_EQ(ResumePauseMs(99), ResumePauseMs(kResumeAttempts));
  EXPECT_LT(LoadRetryPauseMs(1), LoadRetryPauseMs(2));
}

}  // namespace
}  // namespace download
