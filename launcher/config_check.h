// The configuration check: what the configuration endpoint's reply makes the
// launcher do ("CheckConfig"), and storing new configuration data
// ("ConfigLoaded").
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// The members of a configuration reply that count (integers only as signed
// 32-bit JSON integers, texts only as JSON strings; 0 / empty otherwise).
struct ConfigReply {
  int32_t code = 0;     // 1 configuration step, 2 launcher update
  int32_t version = 0;  // configuration version / newest launcher version
  int32_t type = 0;     // launcher update mode 1 or 2
  std::string url;
  static ConfigReply From(const Json::Value& reply);
};

// The reply of a check: the cached text when it is a non-empty JSON object,
// else the call's inline "data" object when non-empty; false when neither.
bool PickConfigReply(const std::string& cachedText, const Json::Value& call, Json::Value& reply);

// The calls a reply's "data" array carries: its string elements, in order.
std::vector<std::string> ReplyCalls(const Json::Value& reply);

void CheckConfigOperation(const std::string& op, Json::Value call);
void ConfigLoadedOperation(const std::string& op, Json::Value call);

// The reply's code-1 and code-2 steps. The launcher update takes the
// package's "sha256" and "size" from the reply; with keys, the configuration
// step passes the data's on to "ConfigLoaded".
void HandleConfigVersion(const std::string& url, int32_t version,
                         const Json::Value& reply = Json::Value());
bool HandleLauncherUpdate(const std::string& url, int32_t type, int32_t version,
                          const Json::Value& reply = Json::Value());
