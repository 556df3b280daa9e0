#include "db_config.h"

#include <cstring>

const char* const kConfigInstanceName = "config";

const char* const kConfigCreateTable =
    "CREATE TABLE \"main\".\"config\" (\"name\"  TEXT NOT NULL,\"value\"  BLOB,"
    "PRIMARY KEY (\"name\"));";

CDBConfig::CDBConfig(const char* path, int version) : IDataBaseObject(path, version) {}

std::string ValueOfFirstRow(const Json::Value& rows) {
  Json::Value row;
  if ((rows.isArray() || rows.isNull()) && rows.size() > 0) row = rows[0];
  if (!row.isObject() || row.empty()) return std::string();
  const Json::Value& value = row["value"];
  if (value.isString()) return value.asString();
  if (value.isNull() || !value.isConvertibleTo(Json::stringValue)) return std::string();
  return value.asString();
}

std::string CDBConfig::ReadValue(const char* name) {
  try {
    CSQLiteXResult result = execute("SELECT value FROM config WHERE name='%s'", name);
    if (result.GetError() != 0) return std::string();
    return ValueOfFirstRow(result.GetData());
  } catch (...) {
    return std::string();
  }
}

bool CDBConfig::WriteValue(const char* name, const char* text) {
  try {
    return execute("REPLACE INTO config(name,value) VALUES ('%s','%s');", name, text)
               .GetError() == 0;
  } catch (...) {
    return false;
  }
}

// The callbacks run on Strata's behalf: nothing may be thrown back into it.

bool CDBConfig::OnInitialise() {
  SetTableVersion("config", kConfigTableVersion);
  return true;
}

bool CDBConfig::OnDatabaseCheck(int, int) { return true; }

bool CDBConfig::OnTableCheck(const char* table, int, int) {
  try {
    const char* const name = "config";
    if (table == nullptr || std::strlen(table) != std::strlen(name) ||
        std::memcmp(table, name, std::strlen(name)) != 0)
      return true;
    return execute("%s", kConfigCreateTable).GetError() == 0;
  } catch (...) {
    return false;
  }
}
