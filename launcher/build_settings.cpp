// What a build compiles in: the endpoint addresses and the public keys of the
// operator's signatures. Compiled once per launcher variant of a build, each
// with its own definitions and generated key list.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config_keys.h"
#include "endpoints.h"

#ifndef LUMORA_CONFIG_ENDPOINT
#error "LUMORA_CONFIG_ENDPOINT is set by the build"
#endif
#ifndef LUMORA_STATISTICS_ENDPOINT
#error "LUMORA_STATISTICS_ENDPOINT is set by the build"
#endif

namespace {
// kConfigKeyCount and kConfigKeyBytes (64 bytes X||Y per key), generated.
#include "config_keys_data.inc"
}  // namespace

const char* ConfigEndpointBase() { return LUMORA_CONFIG_ENDPOINT; }
const char* StatisticsEndpointBase() { return LUMORA_STATISTICS_ENDPOINT; }

const std::vector<trust::PublicPoint>& ConfigKeys() {
  static const std::vector<trust::PublicPoint> keys = [] {
    std::vector<trust::PublicPoint> list(kConfigKeyCount);
    for (size_t i = 0; i < kConfigKeyCount; ++i)
      std::memcpy(list[i].data(), kConfigKeyBytes + 64 * i, 64);
    return list;
  }();
  return keys;
}
