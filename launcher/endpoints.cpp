#include "endpoints.h"

#include <cstdio>

// ConfigEndpointBase and StatisticsEndpointBase: build_settings.cpp.

std::string ConfigRequestUrl(const std::string& base, int32_t version, const std::string& did,
                             int32_t unionCode, int32_t debugCode, int32_t configVersion) {
  char query[96];
  std::snprintf(query, sizeof query, "&u=%d&d=%d&cv=%d", static_cast<int>(unionCode),
                static_cast<int>(debugCode), static_cast<int>(configVersion));
  return base + "/starterUpdate.do?v=" + std::to_string(version) + "&did=" + did + query;
}

std::string RegistrationUrl(const std::string& base, const std::string& registration) {
  return base + "/plugins/did/reg?v=" + registration;
}

std::string StatisticsUrl(const std::string& base, int32_t version, const std::string& did,
                          int32_t unionCode, int32_t debugValue, uint32_t signs,
                          int32_t configVersion) {
  char query[128];
  std::snprintf(query, sizeof query, "&u=%d&d=%d&r=%d&cv=%d", static_cast<int>(unionCode),
                static_cast<int>(debugValue), static_cast<int>(signs),
                static_cast<int>(configVersion));
  return base + "/plugins/stat/run?v=" + std::to_string(version) + "&did=" + did + query;
}
