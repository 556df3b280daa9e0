// How long a reply of the configuration endpoint counts. With keys built in,
// every such reply carries its signed validity: "issued" and "expires",
// seconds since 1970-01-01 00:00 UTC as JSON integers, which the publishing
// tool refreshes. A launcher fed nothing but recorded replies therefore ends
// visibly once they have expired, instead of staying on old content.
//
// Expired is judged against two clocks:
//   - the player's clock, with an allowance for a clock that is somewhat
//     wrong: expired once the clock is past "expires" + the allowance;
//   - the newest issue time the launcher has verified before (kept in its
//     store): a reply that expired at or before that time is old, whatever
//     the player's clock says. The store keeps only issue times the operator
//     signed, never the player's clock, so a clock that was wrong once does
//     not lock anyone out after it is put right.
// A clock far behind (a dead CMOS battery) makes fresh replies look issued in
// the future: they are taken (logged), and old ones are still refused by the
// newest issue time seen. A clock far ahead makes every reply look expired
// until it is put right: the start ends with the design's message, the log
// names the reply's times and the clock.
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>

namespace trust {

// How far the player's clock may be behind the real time before a reply
// counts as expired by it.
constexpr int64_t kClockAllowanceSeconds = 24 * 3600;
// The longest validity a reply may claim: with the allowance, the bound on
// how long a launcher fed only recorded replies takes to notice.
constexpr int64_t kMaxValiditySeconds = 31 * 24 * 3600;

struct Validity {
  int64_t issued = 0;
  int64_t expires = 0;
};

enum class ValidityRead {
  Ok,
  Missing,    // neither "issued" nor "expires"
  Malformed,  // one of them missing, not a positive JSON integer, or issued >= expires
  TooLong,    // valid for longer than kMaxValiditySeconds
};

ValidityRead ReadValidity(const Json::Value& reply, Validity& validity);
const char* ValidityReadText(ValidityRead read);

enum class Freshness {
  Fresh,
  ExpiredByClock,  // the player's clock is past expires + the allowance
  ExpiredBySeen,   // it expired at or before an issue time verified earlier
};

struct FreshnessJudgement {
  Freshness verdict = Freshness::Fresh;
  // The player's clock is behind the reply's issue time by more than the
  // allowance: taken, but worth a log line.
  bool clockBehind = false;
};

// `clockNow`: the player's clock; `newestIssued`: the newest issue time
// verified before (0: none).
FreshnessJudgement JudgeFreshness(const Validity& validity, int64_t clockNow, int64_t newestIssued);

// The newest issue time to keep once `validity` has been accepted.
int64_t NewestIssued(int64_t stored, const Validity& validity);

// Seconds since 1970 from a Windows FILETIME (100 ns since 1601).
int64_t UnixSecondsFromFileTime(uint64_t fileTime);
// "2025-06-01 12:00:00 UTC" (for the log; no system call, any value).
std::string UtcText(int64_t seconds);

}  // namespace trust
