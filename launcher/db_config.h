// The launcher's database object: table "config", one row per key holding the
// text of a JSON document.
#pragma once

#include <string>

#include "strata.h"

// The instance name under which the object is registered with Strata.
extern const char* const kConfigInstanceName;
// The table's version.
constexpr int kConfigTableVersion = 1;
// The statement that creates the table.
extern const char* const kConfigCreateTable;

class CDBConfig : public IDataBaseObject {
 public:
  CDBConfig(const char* path, int version);

  // The stored text of `name`, or an empty text.
  std::string ReadValue(const char* name);
  // Stores `text` under `name`, replacing any earlier row; true when the
  // statement succeeded.
  bool WriteValue(const char* name, const char* text);

  bool OnInitialise() override;
  bool OnDatabaseCheck(int recorded, int version) override;
  bool OnTableCheck(const char* table, int recorded, int version) override;
};

// The text of the row's "value" member, the way ReadValue takes it from the
// rows of its SELECT: the first row when there is one, else nothing.
std::string ValueOfFirstRow(const Json::Value& rows);
