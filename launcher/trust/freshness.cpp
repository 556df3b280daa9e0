#include "freshness.h"

#include <cinttypes>
#include <cstdio>

namespace trust {

namespace {

// A member that is a JSON integer above 0 (64-bit).
bool ReadTime(const Json::Value& reply, const char* name, int64_t& out) {
  if (!reply.isObject()) return false;
  const Json::Value* value = reply.find(name, name + std::char_traits<char>::length(name));
  if (value == nullptr) return false;
  if (value->type() != Json::intValue && value->type() != Json::uintValue) return false;
  if (!value->isInt64()) return false;
  out = value->asInt64();
  return out > 0;
}

bool Has(const Json::Value& reply, const char* name) {
  return reply.isObject() && reply.isMember(name);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

ValidityRead ReadValidity(const Json::Value& reply, Validity& validity) {
  const bool hasIssued = Has(reply, "issued"), hasExpires = Has(reply, "expires");
  if (!hasIssued && !hasExpires) return ValidityRead::Missing;
  Validity read;
  if (!ReadTime(reply, "issued", read.issued) || !ReadTime(reply, "expires", read.expires) ||
      read.issued >= read.expires)
    return ValidityRead::Malformed;
  if (read.expires - read.issued > kMaxValiditySeconds) return ValidityRead::TooLong;
  validity = read;
  return ValidityRead::Ok;
}

const char* ValidityReadText(ValidityRead read) {
  switch (read) {
    case ValidityRead::Ok:
      return "有效期正确";
    case ValidityRead::Missing:
      return "缺少有效期";
    case ValidityRead::Malformed:
      return "有效期格式错误";
    case ValidityRead::TooLong:
      return "有效期过长";
  }
  return "?";
}

FreshnessJudgement JudgeFreshness(const Validity& validity, int64_t clockNow, int64_t newestIssued) {
  FreshnessJudgement judgement;
  if (newestIssued > 0 && validity.expires <= newestIssued) {
    judgement.verdict = Freshness::ExpiredBySeen;
  } else if (clockNow > validity.expires &&
             clockNow - validity.expires > kClockAllowanceSeconds) {
    judgement.verdict = Freshness::ExpiredByClock;
  }
  judgement.clockBehind =
      clockNow < validity.issued && validity.issued - clockNow > kClockAllowanceSeconds;
  return judgement;
}

int64_t NewestIssued(int64_t stored, const Validity& validity) {
  return validity.issued > stored ? validity.issued : stored;
}

int64_t UnixSecondsFromFileTime(uint64_t fileTime) {
  // 1601-01-01 to 1970-01-01: 11644473600 s.
  return static_cast<int64_t>(fileTime / 10000000u) - INT64_C(11644473600);
}

std::string UtcText(int64_t seconds) {
  // Years 1 to 9999 as dates; anything else as the number it is.
  if (seconds < INT64_C(-62135596800) || seconds > INT64_C(253402300799))
    return std::to_string(seconds) + " s";
  // Days to a civil date (proleptic Gregorian), after H. Hinnant's algorithm.
  const int64_t days = FloorDiv(seconds, 86400);
  const int64_t rest = seconds - days * 86400;
  const int64_t z = days + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64
                " %02" PRId64 ":%02" PRId64 ":%02" PRId64 " UTC",
                year, month, day, rest / 3600, rest / 60 % 60, rest % 60);
  return text;
}

}  // namespace trust
