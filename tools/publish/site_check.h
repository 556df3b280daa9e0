// The check of a live site, judged as a launcher with a key judges it: the
// configuration reply for an old launcher and for the newest one (the
// launcher-update branch), the configuration data, every package (size,
// digest and a Content-Length), every signature and the kind it is signed as,
// each reply's validity, the reply bound to its data, launcher updates newer
// than the launchers they are served to, https addresses with checked
// certificates, and the statistics endpoint when given. The rules are the
// launcher's own (launcher/trust); this file only asks and reports. It
// gathers every problem rather than stopping at the first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "document_role.h"
#include "release_rules.h"
#include "site_fetch.h"

namespace site {

// True when `signatureHeader` (the X-Lumora-Signature value, "" when absent)
// is a valid signature of `bytes` as a document of one of `roles` by one of
// the operator's keys, with the kind it is signed as in `role`; otherwise
// `why` says what is wrong.
using Verifier = std::function<bool(const std::vector<trust::DocumentRole>& roles,
                                    const std::string& bytes, const std::string& signatureHeader,
                                    trust::DocumentRole& role, std::string& why)>;
using Fetcher = std::function<Response(const std::string& url)>;

// Two days: time for the refresh job (or its operator) to act before any
// launcher is locked out.
constexpr int64_t kDefaultExpiryMarginSeconds = 2 * 24 * 3600;

struct CheckOptions {
  std::string configEndpoint;            // the launchers' LUMORA_CONFIG_ENDPOINT
  std::string statisticsEndpoint;        // optional: LUMORA_STATISTICS_ENDPOINT
  int32_t launcherVersion = 2014040401;  // the v= of the launchers players have now
  int32_t unionCode = 1;
  bool allowHttp = false;                // a development site
  int64_t now = 0;                       // seconds since 1970 (UTC): the check's clock
  int64_t expiryMargin = kDefaultExpiryMarginSeconds;  // a reply expiring sooner is a warning
  // What a launcher with a key has verified before (the newest configuration
  // version and issue time): a site that serves less is refused by it.
  trust::TrustState seen;
};

struct CheckReport {
  std::vector<std::string> ok;        // what was checked and found right
  std::vector<std::string> warnings;  // right today, wrong soon (a reply about to expire)
  std::vector<std::string> problems;  // every problem, each naming its address
  // What a launcher keeps after this site: `seen` with the configuration
  // version and the issue times taken here.
  trust::TrustState newest;
};

CheckReport CheckSite(const CheckOptions& options, const Fetcher& fetch, const Verifier& verify);

}  // namespace site
