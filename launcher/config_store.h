// The launcher's stored records: JSON documents kept in the "config" table
// through Strata.
#pragma once

#include <json/json.h>

#include "db_config.h"

// The registered database object, registering it on first use; null when the
// library is not initialised or the database cannot be used.
CDBConfig* GetConfigDB();

// The parsed value of `key`; null when it is missing, not JSON, or an empty
// document (null, or an object or array without members).
Json::Value LoadConfigJson(const char* key);

// The pattern every writer follows: the styled text through WriteValue, then
// flush(); skipped silently without a database object. The write's result is
// not reported.
void WriteConfigJson(const char* key, const Json::Value& value);
// The same pattern for a text stored exactly as given (signed bytes).
void WriteConfigText(const char* key, const std::string& text);

// LoadConfigJson's rule on a stored text.
Json::Value ParseStoredJson(const std::string& text);
