// The site of a release as a web server serves it: a folder that mirrors the
// addresses (www/<host>_<port>/<path>), the configuration replies beside it
// (replies/<host>_<port>/), and a configuration for a stock nginx that serves
// both with their signature headers and answers /starterUpdate.do with the
// launcher update for launchers older than the newest one. Deploying a
// release is copying that one folder and reloading nginx.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/json.h>
#include "site_url.h"

namespace site {

// A file served at one address, with the signature header that travels with
// it (empty: none) and its content type.
struct ServedFile {
  Url url;
  std::string source;  // the file written by the release
  std::string signature;
  std::string contentType;
};

// What /starterUpdate.do answers: the reply of launchers that are up to date,
// and, when the release has one, the launcher update for older launchers.
struct ReplyRoute {
  Url endpoint;  // the configuration endpoint's base address
  std::string upToDate, upToDateSignature;
  bool launcherUpdate = false;
  int32_t newestLauncher = 0;
  std::string update, updateSignature;
};

struct SitePlan {
  std::vector<ServedFile> files;
  ReplyRoute replies;
  bool statistics = false;
  Url statisticsEndpoint;  // answered with an empty 200 (the access log keeps the figures)
  std::string root;        // where the site folder lives on the server
  std::string tlsFolder;   // <host>.crt and <host>.key of every https host
};

struct SiteOptions {
  std::string root;                // default /srv/lumora/release-<configVersion>
  std::string tlsFolder;           // default /etc/lumora/tls
  std::string configEndpoint;      // default: the origin of configUrl
  std::string statisticsEndpoint;  // optional
};

// A regular expression (for nginx's map, anchored) that matches exactly the
// decimal texts of the 32-bit integers below `version` (which must be > 0):
// negative numbers, 0, and the positive ones without leading zeros.
std::string OlderThanPattern(int32_t version);

// The plan of a release written by "lumora_publish release" into `folder`
// from the description `release`; false with `why` when an address cannot be
// laid out.
bool PlanRelease(const Json::Value& release, const std::string& folder, const SiteOptions& options,
                 SitePlan& plan, std::string& why);

// The nginx configuration (server blocks for nginx's http block) of a plan.
std::string NginxConfig(const SitePlan& plan);

// Writes the site folder `out` (www/, replies/, nginx.conf); false with `why`.
bool WriteSite(const SitePlan& plan, const std::string& out, std::string& why);

}  // namespace site
