// The hall start: the hall's parameter text is built from the stored
// configuration data and the launcher's own start parameters, the hall is
// started without waiting, and the launcher ends.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// The hall started when the configuration names none.
constexpr char kDefaultHallProgram[] = "Orlune.exe";

struct HallStart {
  std::string file;    // the hall program; empty: none configured
  std::string params;  // the final parameter text
};

// The hall's program and parameters from the stored "CFG_ConfigData" value,
// the hall's class name, the current time (seconds since 1970) and the
// launcher's start parameters.
//  - "params" that are a non-empty JSON object (plain or enveloped), or no
//    "params" at all, get "plaza", "stamp" and (when given) "params";
//  - enveloped or absent parameters go out enveloped, plain ones plain;
//  - any other text (not JSON, "{}", an envelope of such a text or of an
//    empty one) is passed on unchanged.
HallStart BuildHallStart(const Json::Value& configData, const std::string& hallClass,
                         int64_t nowSeconds, const std::string& startParams);

// The request posted to "StartProcess": the hall without a wait ("wait" is the
// unsigned 4294967295, which the operation does not take as a wait), then
// "CheckPlazzProcess".
Json::Value HallStartRequest(const std::string& file, const std::string& params);

void StartPlazzOperation(const std::string& op, Json::Value call);
void CheckPlazzProcessOperation(const std::string& op, Json::Value call);
