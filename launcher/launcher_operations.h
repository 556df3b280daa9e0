// The launcher's own first and last operations: "StartProcedure", which asks
// the configuration endpoint what to do, and "Quit".
#pragma once

#include <json/value.h>

#include <string>

// {"code": n} ends the message loop with n (0 when absent or not an integer).
void QuitOperation(const std::string& op, Json::Value call);

// Quits when none of run, install, update and reboot is requested; otherwise
// loads the configuration reply (cached under a new request tag) and lets
// "CheckConfig" act on it.
void StartProcedureOperation(const std::string& op, Json::Value call);

// The stored configuration version: integer "version" of "CFG_ConfigInfo",
// 0 when the record is not a non-empty object or has none (with keys: the
// version of the stored configuration verified at this start, 0 when none).
int32_t StoredConfigVersion();

// The configuration request for this launcher with launcher version `v`.
std::string ConfigRequestForVersion(int32_t v);

// {"op":"URL_LoadData","opsign":tag,"code":4,"url":url,"then":then} with
// "opsign":tag added to `then`: a load whose reply its continuation finds in
// the cache under the same tag.
std::string CachedLoadCall(int32_t tag, const std::string& url, Json::Value then);

// The configuration load: CachedLoadCall with a new tag and the continuation
// {"op":"CheckConfig","url":url}.
std::string ConfigLoadCall(const std::string& url);
