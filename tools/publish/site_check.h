// The check of a live site, as launchers will see it: the configuration
// reply for an old launcher and for the newest one (the launcher-update
// branch), the configuration data, every package (size, digest and a
// Content-Length), every signature, HTTPS with checked certificates, and the
// statistics endpoint when given. It gathers every problem rather than
// stopping at the first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "site_fetch.h"

namespace site {

// What a signed document is, for the signature's verifier.
enum class DocumentKind { kConfigReply, kConfigData, kStatisticsReply };

// True when `signatureHeader` (the X-Lumora-Signature value, "" when absent)
// is a valid signature of `bytes` for a document of `kind` by one of the
// operator's keys; otherwise `why` says what is wrong.
using Verifier = std::function<bool(DocumentKind kind, const std::string& bytes,
                                    const std::string& signatureHeader, std::string& why)>;
using Fetcher = std::function<Response(const std::string& url)>;

struct CheckOptions {
  std::string configEndpoint;           // the launchers' LUMORA_CONFIG_ENDPOINT
  std::string statisticsEndpoint;       // optional: LUMORA_STATISTICS_ENDPOINT
  int32_t launcherVersion = 2014040401;  // the v= of the launchers players have now
  int32_t unionCode = 1;
  bool allowHttp = false;               // a development site
};

struct CheckReport {
  std::vector<std::string> ok;        // what was checked and found right
  std::vector<std::string> problems;  // every problem, each naming its address
};

CheckReport CheckSite(const CheckOptions& options, const Fetcher& fetch, const Verifier& verify);

}  // namespace site
