#include "config_store.h"

#include <new>

#include "json_util.h"

CDBConfig* GetConfigDB() {
  CDataServiceHelper helper = CDataServiceHelper::GetInstance();
  if (!helper.IsValid()) return nullptr;
  if (IDataBaseObject* found = helper->FindDBIns(kConfigInstanceName))
    return dynamic_cast<CDBConfig*>(found);
  char path[1040];
  if (!helper->GetDBInsPath(kConfigInstanceName, path, sizeof path)) return nullptr;
  CDBConfig* created = new (std::nothrow) CDBConfig(path, kConfigTableVersion);
  if (created == nullptr) return nullptr;
  if (!DBM::CreateDBIns(kConfigInstanceName, created)) {
    delete created;
    return nullptr;
  }
  return created;  // Strata owns it from here on
}

Json::Value ParseStoredJson(const std::string& text) {
  if (text.empty()) return Json::Value();
  Json::Value value;
  if (!rt::ParseJson(text, value) || value.empty()) return Json::Value();
  return value;
}

Json::Value LoadConfigJson(const char* key) {
  CDBConfig* db = GetConfigDB();
  if (db == nullptr) return Json::Value();
  return ParseStoredJson(db->ReadValue(key));
}

void WriteConfigJson(const char* key, const Json::Value& value) {
  WriteConfigText(key, rt::StyledText(value));
}

void WriteConfigText(const char* key, const std::string& text) {
  CDBConfig* db = GetConfigDB();
  if (db == nullptr) return;
  db->WriteValue(key, text.c_str());
  db->flush();
}
