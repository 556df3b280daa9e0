// Component updates: the platform resources and the game hall are compared
// with the newest versions of the stored configuration data and, when out of
// date, downloaded and installed through the updater; the launcher's own
// update hands the launcher to the updater and ends it.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// One component's names and messages.
struct Component {
  const char* dataMember;      // member of "CFG_ConfigData": "platform" / "info"
  const char* versionMember;   // member of "CFG_ConfigInfo": "platformversion" / "plazaversion"
  const char* package;         // "Tessel.pkg.exe" / "Orlune.pkg.exe"
  const char* downloadText;    // shown by the service with the task
  const char* updateOp;        // "UpdatePlatform" / "UpdatePlaza"
  const char* nextOp;          // "CheckPlaza" / "StartPlazz"
  const char* badData;         // fatal: the continuation carries version 0
  const char* downloadFailed;  // fatal: the download failed or the package is missing
  const char* installFailed;   // fatal: the updater failed
  const char* updatedLog;      // "...[%d]" with the installed version
};
extern const Component kPlatformComponent;
extern const Component kHallComponent;

// The download call of a component update and its "then":
// {"op":"URL_Download","opsign":tag,"url":url,"name":package,"path":folder,
//  "text":text,"then":{"op":updateOp,"name":package,"dir":folder,"version":v,"url":url}}
Json::Value ComponentDownloadCall(const Component& component, int32_t tag,
                                  const std::string& url, const std::string& folder,
                                  int32_t version);

// The package path of a continuation: `dir` joined with `name`; empty when
// either is empty or the path would not fit 259 characters.
std::string PackagePath(const std::string& dir, const std::string& name);

// "result"."status" of a continuation: false unless it is a JSON boolean.
bool ResultStatus(const Json::Value& call);

void CheckPlatformOperation(const std::string& op, Json::Value call);
void UpdatePlatformOperation(const std::string& op, Json::Value call);
void CheckPlazaOperation(const std::string& op, Json::Value call);
void UpdatePlazaOperation(const std::string& op, Json::Value call);
void UpdateStarterOperation(const std::string& op, Json::Value call);
void ShowUpdateLoadOperation(const std::string& op, Json::Value call);
