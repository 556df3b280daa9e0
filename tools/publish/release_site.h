// The documents of a release and the folder the operator's servers serve
// them from: writing a release, refreshing the validity of its replies, and
// publishing an older release's content again under a newer version.
//
// A release folder holds
//   config.json (+ .sig)                 the configuration data, signed as
//                                        "config-data", naming its own version
//   starterUpdate.json (+ .sig)          the configuration reply, signed as
//                                        "config-reply": the data's version,
//                                        address, SHA-256 and size, and when
//                                        it was issued and expires
//   starterUpdate.launcher.json (+ .sig) optional: the launcher-update reply,
//                                        signed as "launcher-update"
//   the packages                         named by their SHA-256 in the above
#pragma once

#include <cstdint>
#include <string>

namespace publish {

struct SignOptions {
  int64_t issued = 0;        // seconds since 1970 (UTC); 0: now
  int64_t validHours = 168;  // how long the replies count (at most 744)
  bool allowHttp = false;    // addresses that are not https (only launchers without a key take them)
};

int Release(const std::string& description, const std::string& packages,
            const std::string& keyPath, const std::string& out, const SignOptions& options);

// Signs the replies of `site` again with a new validity, after checking that
// they (and the data the reply names) are still exactly what was signed.
int Refresh(const std::string& site, const std::string& keyPath, const SignOptions& options);

// Publishes the configuration of the release folder `old` again as version
// `version` (newer than the one `out` serves): the same data and packages,
// signed anew. Launchers install what it names, since they compare the
// components' versions for equality.
int Rollback(const std::string& old, int32_t version, const std::string& configUrl,
             const std::string& keyPath, const std::string& out, const SignOptions& options);

}  // namespace publish
