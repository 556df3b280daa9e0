#include "hall_start.h"

#include <ctime>

#include "component_updates.h"
#include "config_store.h"
#include "fatal_error.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "log_file.h"
#include "operation_engine.h"
#include "param_envelope.h"
#include "trusted_config.h"

HallStart BuildHallStart(const Json::Value& configData, const std::string& hallClass,
                         int64_t nowSeconds, const std::string& startParams) {
  HallStart start;
  const Json::Value info = rt::MemberOrNull(configData, "info");
  start.file = rt::StringMember(info, "file");
  std::string params = rt::StringMember(info, "params");

  const bool none = params.empty();
  ParamEnvelope envelope;
  const bool enveloped = envelope.Decode(params);
  Json::Value object;
  const bool isObject =
      rt::ParseJson(enveloped ? envelope.Payload() : params, object) && rt::IsNonEmptyObject(object);
  if (!isObject && !none) {
    // Not an object the launcher can complete: passed on as it came, also
    // an envelope of an empty text (wrapping an empty text again would give
    // the hall no parameters at all).
    start.params = params;
    return start;
  }
  if (!isObject) object = Json::Value(Json::objectValue);
  object["plaza"] = hallClass;
  object["stamp"] = static_cast<Json::Int>(static_cast<int32_t>(
      static_cast<uint32_t>(static_cast<uint64_t>(nowSeconds) & 0xFFFFFFFFu)));
  if (!startParams.empty()) object["params"] = startParams;
  params = rt::StyledText(object);
  start.params = enveloped || none ? ParamEnvelope::Wrap(params) : params;
  return start;
}

Json::Value HallStartRequest(const std::string& file, const std::string& params) {
  Json::Value then(Json::objectValue);
  then["op"] = "CheckPlazzProcess";
  Json::Value request(Json::objectValue);
  request["op"] = "StartProcess";
  request["name"] = file;
  request["params"] = params;
  request["wait"] = Json::UInt(4294967295u);
  request["type"] = false;
  request["then"] = then;
  return request;
}

void StartPlazzOperation(const std::string&, Json::Value) {
  const LauncherApp& app = LauncherApp::Get();
  HallStart start = BuildHallStart(StoredConfigData(), app.HallClassName(),
                                   static_cast<int64_t>(std::time(nullptr)), app.startParams);
  if (start.file.empty()) {
    start.file = kDefaultHallProgram;
    WriteLog("[警告]未指定大厅执行程序名!");
  }
  WriteLogF("启动大厅 文件:'%s' 参数:'%s'", start.file.c_str(), start.params.c_str());
  PostCall(kLauncherModule, rt::StyledText(HallStartRequest(start.file, start.params)));
}

void CheckPlazzProcessOperation(const std::string&, Json::Value call) {
  const Json::Value result = rt::MemberOrNull(call, "result");
  int32_t error = 0;
  if (rt::IsNonEmptyObject(result) && rt::ReadInt(result, "error", error) && error != 0) {
    FailStart("[游戏大厅]启动失败!");
    return;
  }
  PostOperation(kLauncherModule, "Quit");
}
