#include "freshness.h"

#include <gtest/gtest.h>

#include "json_util.h"

namespace trust {
namespace {

constexpr int64_t kDay = 24 * 3600;
constexpr int64_t kNow = 1750000000;  // 2025-06-15 15:06:40 UTC

Json::Value Reply(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(rt::ParseJson(text, value)) << text;
  return value;
}

TEST(Freshness, ValidityIsTwoPositiveIntegersInOrderAndNotTooLong) {
  Validity v;
  ASSERT_EQ(ReadValidity(Reply(R"({"code":1,"issued":1750000000,"expires":1750604800})"), v),
            ValidityRead::Ok);
  EXPECT_EQ(v.issued, 1750000000);
  EXPECT_EQ(v.expires, 1750604800);
  // Beyond 2038 and beyond 32 bits.
  ASSERT_EQ(ReadValidity(Reply(R"({"issued":4102444800,"expires":4103049600})"), v),
            ValidityRead::Ok);
  EXPECT_EQ(v.expires, 4103049600);
  // Exactly the longest validity, and one second more.
  EXPECT_EQ(ReadValidity(Reply("{\"issued\":1000,\"expires\":" +
                               std::to_string(1000 + kMaxValiditySeconds) + "}"),
                         v),
            ValidityRead::Ok);
  EXPECT_EQ(ReadValidity(Reply("{\"issued\":1000,\"expires\":" +
                               std::to_string(1001 + kMaxValiditySeconds) + "}"),
                         v),
            ValidityRead::TooLong);

  EXPECT_EQ(ReadValidity(Reply(R"({"code":1,"version":2})"), v), ValidityRead::Missing);
  EXPECT_EQ(ReadValidity(Json::Value(), v), ValidityRead::Missing);
  const Validity before = v;
  for (const char* bad : {
           R"({"issued":1750000000})",                      // one of the two
           R"({"expires":1750000000})",
           R"({"issued":1750000000,"expires":1750000000})",  // not after
           R"({"issued":1750000001,"expires":1750000000})",
           R"({"issued":0,"expires":1750000000})",           // not positive
           R"({"issued":-5,"expires":1750000000})",
           R"({"issued":"1750000000","expires":1750604800})",  // text
           R"({"issued":1750000000.5,"expires":1750604800})",  // fraction
           R"({"issued":1750000000,"expires":1.7506048e9})",
           R"({"issued":true,"expires":1750604800})",
           R"({"issued":1750000000,"expires":18446744073709551615})",  // beyond int64
       }) {
    EXPECT_EQ(ReadValidity(Reply(bad), v), ValidityRead::Malformed) << bad;
  }
  EXPECT_EQ(v.issued, before.issued) << "a refused read leaves the value";
}

TEST(Freshness, ExpiredIsJudgedByTheClockWithAnAllowanceAndByTheNewestIssueSeen) {
  const Validity week{kNow, kNow + 7 * kDay};
  // A fresh reply, with or without an earlier issue time seen.
  EXPECT_EQ(JudgeFreshness(week, kNow, 0).verdict, Freshness::Fresh);
  EXPECT_EQ(JudgeFreshness(week, kNow + kDay, kNow - kDay).verdict, Freshness::Fresh);
  // The clock past the expiry: within the allowance still fresh, then not.
  EXPECT_EQ(JudgeFreshness(week, week.expires + kClockAllowanceSeconds, 0).verdict,
            Freshness::Fresh);
  EXPECT_EQ(JudgeFreshness(week, week.expires + kClockAllowanceSeconds + 1, 0).verdict,
            Freshness::ExpiredByClock);
  // A reply that expired at or before an issue time verified earlier is old
  // whatever the clock says (here a clock far behind).
  const int64_t behind = kNow - 400 * kDay;
  EXPECT_EQ(JudgeFreshness(week, behind, week.expires).verdict, Freshness::ExpiredBySeen);
  EXPECT_EQ(JudgeFreshness(week, behind, week.expires - 1).verdict, Freshness::Fresh);
  // ... and within the clock's allowance too: an hour-old reply that expired
  // an hour ago is refused once a newer issue time was seen.
  const Validity hour{kNow - 2 * 3600, kNow - 3600};
  EXPECT_EQ(JudgeFreshness(hour, kNow, 0).verdict, Freshness::Fresh);
  EXPECT_EQ(JudgeFreshness(hour, kNow, kNow).verdict, Freshness::ExpiredBySeen);
}

TEST(Freshness, AWrongClockIsToldAndNeverEntersWhatIsKept) {
  const Validity week{kNow, kNow + 7 * kDay};
  // Far behind: taken, said so.
  const FreshnessJudgement behind = JudgeFreshness(week, kNow - 3650 * kDay, 0);
  EXPECT_EQ(behind.verdict, Freshness::Fresh);
  EXPECT_TRUE(behind.clockBehind);
  EXPECT_FALSE(JudgeFreshness(week, kNow - kClockAllowanceSeconds, 0).clockBehind);
  EXPECT_TRUE(JudgeFreshness(week, kNow - kClockAllowanceSeconds - 1, 0).clockBehind);
  // Far ahead: every reply expired, until the clock is right again; what is
  // kept is the operator's issue time, so the next fresh reply counts.
  EXPECT_EQ(JudgeFreshness(week, kNow + 3650 * kDay, 0).verdict, Freshness::ExpiredByClock);
  int64_t kept = NewestIssued(0, week);
  EXPECT_EQ(kept, kNow);
  const Validity next{kNow + kDay, kNow + 8 * kDay};
  EXPECT_EQ(JudgeFreshness(next, kNow + kDay, kept).verdict, Freshness::Fresh);
  // The newest issue time only moves forward.
  kept = NewestIssued(kept, next);
  EXPECT_EQ(kept, kNow + kDay);
  EXPECT_EQ(NewestIssued(kept, week), kNow + kDay);
}

TEST(Freshness, TimesForTheLog) {
  EXPECT_EQ(UtcText(0), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(UtcText(kNow), "2025-06-15 15:06:40 UTC");
  EXPECT_EQ(UtcText(951782400), "2000-02-29 00:00:00 UTC");
  EXPECT_EQ(UtcText(4102444799), "2099-12-31 23:59:59 UTC");
  EXPECT_EQ(UtcText(-1), "1969-12-31 23:59:59 UTC");
  EXPECT_EQ(UtcText(253402300799), "9999-12-31 23:59:59 UTC");
  EXPECT_EQ(UtcText(253402300800), "253402300800 s");
  EXPECT_EQ(UtcText(INT64_MIN), std::to_string(INT64_MIN) + " s");
  // FILETIME of 1970-01-01 and of kNow.
  EXPECT_EQ(UnixSecondsFromFileTime(116444736000000000ull), 0);
  EXPECT_EQ(UnixSecondsFromFileTime(116444736000000000ull + 10000000ull * kNow + 9999999), kNow);
}

}  // namespace
}  // namespace trust
