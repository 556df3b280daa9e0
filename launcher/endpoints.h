// The addresses the launcher talks to. They are compiled in (CMake cache
// variables of the build); there is no configuration file.
#pragma once

#include <cstdint>
#include <string>

// Base addresses without a trailing slash, e.g. "http://127.0.0.1:18090".
const char* ConfigEndpointBase();
const char* StatisticsEndpointBase();

// "<config>/starterUpdate.do?v=%d&did=%s&u=%d&d=%d&cv=%d"
std::string ConfigRequestUrl(const std::string& base, int32_t version, const std::string& did,
                             int32_t unionCode, int32_t debugCode, int32_t configVersion);
// "<statistics>/plugins/did/reg?v=%s"
std::string RegistrationUrl(const std::string& base, const std::string& registration);
// "<statistics>/plugins/stat/run?v=%d&did=%s&u=%d&d=%d&r=%d&cv=%d"
std::string StatisticsUrl(const std::string& base, int32_t version, const std::string& did,
                          int32_t unionCode, int32_t debugValue, uint32_t signs,
                          int32_t configVersion);
