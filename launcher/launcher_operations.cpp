#include "launcher_operations.h"

#include <windows.h>

#include "config_store.h"
#include "device_identity.h"
#include "endpoints.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "operation_engine.h"
#include "trusted_config.h"

void QuitOperation(const std::string&, Json::Value call) {
  PostQuitMessage(rt::IntMember(call, "code", 0));
}

int32_t StoredConfigVersion() { return CountedConfigVersion(); }

std::string ConfigRequestForVersion(int32_t v) {
  const LauncherApp& app = LauncherApp::Get();
  return ConfigRequestUrl(ConfigEndpointBase(), v, GetDeviceIdParam(), app.unionCode,
                          app.debugCode, StoredConfigVersion());
}

std::string CachedLoadCall(int32_t tag, const std::string& url, Json::Value then) {
  then["opsign"] = tag;
  Json::Value call(Json::objectValue);
  call["op"] = "URL_LoadData";
  call["opsign"] = tag;
  call["code"] = 4;
  call["url"] = url;
  call["then"] = then;
  return rt::StyledText(call);
}

std::string ConfigLoadCall(const std::string& url) {
  Json::Value then(Json::objectValue);
  then["op"] = "CheckConfig";
  then["url"] = url;
  return CachedLoadCall(TakeOpsign(), url, then);
}

void StartProcedureOperation(const std::string&, Json::Value) {
  const LauncherApp& app = LauncherApp::Get();
  if ((app.signs & (kSignRun | kSignReboot | kSignUpdate | kSignInstall)) == 0) {
    PostOperation(kLauncherModule, "Quit");
    return;
  }
  // With keys: the stored configuration counts only when it verifies again.
  VerifyStoredConfig();
  PostCall(kLauncherModule, ConfigLoadCall(ConfigRequestForVersion(kLauncherBuildNumber)));
}
