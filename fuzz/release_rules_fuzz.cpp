// What a launcher with keys reads of the configuration endpoint's replies, of
// the configuration data and of its own record "CFG_Trust" (any JSON text):
// validity, the terms binding the data, addresses, kinds of documents. Each
// is read or refused without harm, and what is taken keeps its rules.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "document_role.h"
#include "freshness.h"
#include "fuzz_check.h"
#include "json_util.h"
#include "release_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string shown = fuzz::Shown(text);

  // Texts as they are: an address, a kind's name, a time for the log.
  if (trust::IsHttpsAddress(text)) {
    FUZZ_CHECK(text.size() > 8, shown);
    for (size_t i = 0; i < 8; ++i)
      FUZZ_CHECK((text[i] | 0x20) == "https://"[i] || text[i] == "https://"[i], shown);
  }
  trust::DocumentRole role;
  if (trust::RoleFromName(text, role)) FUZZ_CHECK(text == trust::RoleName(role), shown);
  int64_t seconds = 0;
  std::memcpy(&seconds, text.data(), size < sizeof seconds ? size : sizeof seconds);
  const std::string when = trust::UtcText(seconds);
  FUZZ_CHECK(!when.empty(), shown);
  if (seconds >= 0 && seconds < INT64_C(253402300800)) FUZZ_CHECK(when.size() == 23, when);

  Json::Value value;
  if (!rt::ParseJson(text, value)) return 0;

  trust::Validity validity;
  if (trust::ReadValidity(value, validity) == trust::ValidityRead::Ok) {
    FUZZ_CHECK(validity.issued > 0 && validity.issued < validity.expires, shown);
    FUZZ_CHECK(validity.expires - validity.issued <= trust::kMaxValiditySeconds, shown);
    for (int64_t clock : {validity.issued, validity.expires, seconds}) {
      for (int64_t seen : {int64_t{0}, validity.issued, validity.expires, seconds}) {
        const trust::FreshnessJudgement judged = trust::JudgeFreshness(validity, clock, seen);
        if (judged.verdict == trust::Freshness::Fresh) {
          FUZZ_CHECK(seen <= 0 || validity.expires > seen, shown);
          FUZZ_CHECK(clock <= validity.expires ||
                         clock - validity.expires <= trust::kClockAllowanceSeconds,
                     shown);
        }
        FUZZ_CHECK(trust::NewestIssued(seen, validity) >= seen, shown);
      }
    }
  }

  trust::DataTerms terms;
  if (trust::ReadDataTerms(value, terms) == trust::TermsRead::Ok) {
    FUZZ_CHECK(terms.version != 0 && terms.size >= 0, shown);
    FUZZ_CHECK(trust::CheckBinding(terms, terms.size, terms.digest, terms.version) ==
                   trust::Binding::Bound,
               shown);
    FUZZ_CHECK(trust::CheckBinding(terms, terms.size, terms.digest, terms.version + 1) ==
                   trust::Binding::VersionDiffers || terms.version == INT32_MAX,
               shown);
  }

  const trust::TrustState state = trust::ReadTrustState(value);
  FUZZ_CHECK(state.issued >= 0, shown);
  FUZZ_CHECK(trust::ReadTrustState(trust::TrustStateRecord(state)) == state, shown);

  std::string address;
  if (!trust::AddressesAreHttps(value, address)) FUZZ_CHECK(!trust::IsHttpsAddress(address), shown);
  return 0;
}
