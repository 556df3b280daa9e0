// The configuration a benchmark's loopback operator serves: the reply and
// the data a launcher gets for a release of the hall package (and the
// platform package), shared by the benchmarks of the trusted channel.
#pragma once

#include <string>

namespace bench {

struct ReleaseTexts {
  std::string data;   // the configuration data
  std::string reply;  // the configuration reply naming it (code 1)
};

// The packages are named at `base` ("http://127.0.0.1:18090" or
// "https://localhost:18443"); `platformPackage` may be empty (no platform
// entry). With `secure`, as the publishing tool writes a release: each entry
// carries its package's SHA-256 and size, the data its version, and the
// reply the data's digest and size and a validity of a week from a minute
// ago. The texts are unsigned.
ReleaseTexts ReleaseFor(const std::string& base, const std::string& platformPackage,
                        const std::string& hallPackage, bool secure);

}  // namespace bench
