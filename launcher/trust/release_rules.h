// The rules a build with keys applies to the documents of a release, beyond
// their signatures (pure functions; the launcher's configuration check calls
// them, the publishing tool writes what they ask for):
//   - never back: a launcher update must name a newer launcher than the one
//     running; a configuration older than the newest one verified is refused;
//   - bound together: the configuration reply names the configuration data's
//     "version", "sha256" and "size", and the data names its own "version";
//   - the right kind: a reply with code 1 is signed as a configuration reply,
//     one with code 2 as a launcher update;
//   - https only: every address a signed document names is https;
//   - what the launcher keeps of what it verified (the record "CFG_Trust").
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>

#include "document_role.h"
#include "trust_text.h"

namespace trust {

// --- versions -------------------------------------------------------------

// A launcher update is taken only for a newer launcher than the running one.
bool LauncherUpdateIsNewer(int32_t offered, int32_t running);
// A configuration version at or above the newest verified one (0: none) counts.
bool ConfigVersionAllowed(int32_t offered, int32_t newestVerified);

// --- kinds ------------------------------------------------------------------

// A configuration endpoint's reply signed as `role` may say `code`: code 1
// only as a configuration reply, code 2 only as a launcher update (other
// codes are not the signature's business).
bool ReplyKindFits(int32_t code, DocumentRole role);

// --- addresses ------------------------------------------------------------

// "https://" (either case) followed by a host.
bool IsHttpsAddress(const std::string& url);
// The package addresses of configuration data that the launcher fetches
// ("platform" and "info", member "url"): false and the first one that is not
// https in `address`; true when every one present is.
bool AddressesAreHttps(const Json::Value& data, std::string& address);

// --- the configuration reply and its data ---------------------------------

// What a configuration reply says of the data it names.
struct DataTerms {
  int32_t version = 0;
  Digest digest{};
  int64_t size = 0;
};

enum class TermsRead {
  Ok,
  Missing,    // no "sha256" and no "size"
  Malformed,  // "version" not a non-zero signed 32-bit integer, "sha256" not 64 hex
              // digits, "size" not a JSON integer from 0, or one of the two missing
};

// Reads "version", "sha256" and "size" of a reply (or of a call that carries
// them on).
TermsRead ReadDataTerms(const Json::Value& reply, DataTerms& terms);

enum class Binding {
  Bound,
  SizeDiffers,
  DigestDiffers,
  VersionDiffers,  // the data's own "version" is not the one the reply announced
};

// The data as loaded (its size, its SHA-256, its own "version", 0 when it has
// none) against what the reply said.
Binding CheckBinding(const DataTerms& terms, int64_t size, const Digest& digest,
                     int32_t dataVersion);
const char* BindingText(Binding binding);

// --- what the launcher keeps ------------------------------------------------

// The record "CFG_Trust": the newest configuration version and the newest
// issue time the launcher has verified.
struct TrustState {
  int32_t configVersion = 0;
  int64_t issued = 0;
  bool operator==(const TrustState& other) const {
    return configVersion == other.configVersion && issued == other.issued;
  }
};

// Members of another type (or a record that is no object) count as 0.
TrustState ReadTrustState(const Json::Value& record);
Json::Value TrustStateRecord(const TrustState& state);

}  // namespace trust
