#include "config_check.h"

#include "config_keys.h"
#include "config_store.h"
#include "fatal_error.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "launcher_operations.h"
#include "launcher_window.h"
#include "log_file.h"
#include "operation_engine.h"
#include "package_check.h"
#include "signed_reply.h"
#include "trusted_config.h"

namespace {

// The launcher package of a self-update, saved in the download folder.
const char kLauncherPackage[] = "Lumora.pkg.exe";

bool ReadOpsign(const Json::Value& call, int32_t& opsign) {
  opsign = 0;
  return rt::ReadInt(call, "opsign", opsign) && opsign != 0;
}

// With keys built in, a loaded reply counts only with a valid signature over
// its bytes as received, signed as one of the kinds `accepted`: false (logged
// with what failed) otherwise; `kind` is the kind it was signed as. Without
// keys every reply counts, as the design has it.
bool SignatureAccepted(const char* op, const std::string& text, int32_t opsign,
                       std::initializer_list<trust::DocumentRole> accepted,
                       trust::DocumentRole& kind) {
  kind = *accepted.begin();
  if (!RepliesMustBeSigned() || text.empty()) return true;
  const trust::SignatureCheck check = trust::CheckSignedDocument(
      text, GetLoadedSignature(opsign), ConfigKeys(), accepted, &kind);
  if (check == trust::SignatureCheck::WrongRole) {
    WriteLogF("%s 签名校验失败[%s] 签名类型[%s]", op, trust::SignatureCheckText(check),
              trust::RoleText(kind));
    return false;
  }
  if (check != trust::SignatureCheck::Verified) {
    WriteLogF("%s 签名校验失败[%s]", op, trust::SignatureCheckText(check));
    return false;
  }
  WriteLogF("%s 签名校验通过", op);
  return true;
}

}  // namespace

ConfigReply ConfigReply::From(const Json::Value& reply) {
  ConfigReply r;
  r.code = rt::IntMember(reply, "code", 0);
  r.version = rt::IntMember(reply, "version", 0);
  r.type = rt::IntMember(reply, "type", 0);
  r.url = rt::StringMember(reply, "url");
  return r;
}

bool PickConfigReply(const std::string& cachedText, const Json::Value& call, Json::Value& reply) {
  Json::Value parsed;
  if (!cachedText.empty() && rt::ParseJson(cachedText, parsed) && rt::IsNonEmptyObject(parsed)) {
    reply.swap(parsed);
    return true;
  }
  const Json::Value* inline_ = rt::FindMember(call, "data");
  if (inline_ != nullptr && rt::IsNonEmptyObject(*inline_)) {
    reply = *inline_;
    return true;
  }
  return false;
}

std::vector<std::string> ReplyCalls(const Json::Value& reply) {
  std::vector<std::string> calls;
  const Json::Value* data = rt::FindMember(reply, "data");
  if (data == nullptr || !data->isArray()) return calls;
  for (const Json::Value& element : *data)
    if (element.isString()) calls.push_back(element.asString());
  return calls;
}

void CheckConfigOperation(const std::string&, Json::Value call) {
  int32_t opsign = 0;
  if (!ReadOpsign(call, opsign)) {
    FailStart("CheckConfig 无效的Sign.");
    return;
  }
  const std::string cached = GetLoadedData(opsign);
  trust::DocumentRole kind;
  if (!SignatureAccepted("CheckConfig", cached, opsign,
                         {trust::DocumentRole::ConfigReply, trust::DocumentRole::LauncherUpdate},
                         kind)) {
    FailStart("CheckConfig 无效的数据!");
    return;
  }
  if (RepliesMustBeSigned() && call.isMember("data")) {
    // A reply given inline carries no signature: it does not count.
    if (cached.empty()) WriteLog("CheckConfig 签名校验失败[缺少签名] 内联的配置数据不被接受");
    call.removeMember("data");
  }
  Json::Value replyValue;
  if (!PickConfigReply(cached, call, replyValue)) {
    WriteLogF("CheckConfig 无效的数据:%s", cached.c_str());
    std::string url;
    if (rt::ReadString(call, "url", url))
      WriteLogF("CheckConfig 配置数据加载地址:\"%s\"", url.c_str());
    FailStart("CheckConfig 无效的数据!");
    return;
  }
  const ConfigReply reply = ConfigReply::From(replyValue);
  // With keys, a signed reply must also be fresh, of its kind, not older than
  // what was verified before and name only https addresses: before any of
  // its calls is queued.
  std::string refusal;
  if (RepliesMustBeSigned() && !AcceptEndpointReply(replyValue, kind, refusal)) {
    FailStart(refusal);
    return;
  }
  // The reply's own calls are queued before anything the code leads to.
  for (const std::string& text : ReplyCalls(replyValue)) PostCall(kLauncherModule, text);

  if (reply.url.empty() || reply.version == 0 || reply.code == 0) {
    WriteLogF("错误的配置信息 url:'%s' data:'%s'", reply.url.c_str(), cached.c_str());
    FailStart("网络断开或配置信息错误.");
    return;
  }
  switch (reply.code) {
    case 1:
      HandleConfigVersion(reply.url, reply.version, replyValue);
      break;
    case 2:
      if (!HandleLauncherUpdate(reply.url, reply.type, reply.version, replyValue))
        FailStart("更新失败,检查网络或重新安装.");
      break;
    default:
      WriteLogF("CheckConfig 未知操作代码:%d", reply.code);
      FailStart("配置信息错误!");
      break;
  }
}

void HandleConfigVersion(const std::string& url, int32_t version, const Json::Value& reply) {
  const LauncherApp& app = LauncherApp::Get();
  Json::Value then(Json::objectValue);
  then["op"] = "ConfigLoaded";
  then["version"] = version;
  if (RepliesMustBeSigned()) {
    // The data's digest and size as the signed reply gives them, and where
    // it comes from (for the log when it does not).
    CarryPackageExpectation(reply, then);
    then["url"] = url;
  }
  const std::string loadText = CachedLoadCall(TakeOpsign(), url, then);

  // Right after an installation the configuration is loaded again, whatever
  // is stored and whether a hall runs or not.
  if (app.HasSigns(kSignInstall)) {
    PostCall(kLauncherModule, loadText);
    return;
  }
  const Json::Value info = LoadConfigJson("CFG_ConfigInfo");
  const bool stored = rt::IsNonEmptyObject(info);
  // (With keys, the version of the stored configuration that verified.)
  const int32_t storedVersion = stored ? CountedConfigVersion() : 0;
  const int32_t storedUnion = stored ? rt::IntMember(info, "UnionCode", 0) : 0;
  const int32_t storedDebug = stored ? rt::IntMember(info, "DebugCode", 0) : 0;
  WriteLogF("当前[配置]版本[%d] 最新版本[%d]", storedVersion, version);
  if (storedVersion == version && storedUnion == app.unionCode &&
      storedDebug == app.debugCode) {
    PostOperation(kLauncherModule, "CheckPlatform");
    return;
  }
  if (ActivateRunningHall()) return;
  PostCall(kLauncherModule, loadText);
}

bool HandleLauncherUpdate(const std::string& url, int32_t type, int32_t version,
                          const Json::Value& reply) {
  if (type != 1 && type != 2) return false;
  const LauncherApp& app = LauncherApp::Get();
  WriteLogF("当前[启动器]版本[%d] 最新版本[%d]", kLauncherBuildNumber, version);
  if (app.HasSigns(kSignDebug)) {
    // Debugging goes on with this launcher: ask again as if it were current.
    WriteLog("使用当前版本[启动器]继续调试.");
    PostCall(kLauncherModule, ConfigLoadCall(ConfigRequestForVersion(version)));
    return true;
  }
  if (ActivateRunningHall()) return true;
  const int32_t tag = TakeOpsign();
  Json::Value then(Json::objectValue);
  then["op"] = "UpdateStarter";
  then["name"] = kLauncherPackage;
  then["dir"] = app.downloadDir;
  then["type"] = type;
  // The package's digest and size, as the (signed) reply gives them.
  CarryPackageExpectation(reply, then);
  Json::Value download(Json::objectValue);
  download["op"] = "URL_Download";
  download["opsign"] = tag;
  download["url"] = url;
  download["name"] = kLauncherPackage;
  download["path"] = app.downloadDir;
  download["text"] = "更新启动器...";
  download["then"] = then;
  PostCall(kLauncherModule, rt::StyledText(download));
  return true;
}

void ConfigLoadedOperation(const std::string&, Json::Value call) {
  int32_t opsign = 0;
  if (!ReadOpsign(call, opsign)) {
    FailStart("CheckConfig 无效的Sign.");
    return;
  }
  const std::string text = GetLoadedData(opsign);
  const int32_t version = rt::IntMember(call, "version", 0);
  if (text.empty()) {
    // Not loaded (or expired). With keys, a newer configuration that was
    // announced and could not be loaded ends the start visibly: going on
    // with the stored one is what an attacker who drops the load wants.
    if (RepliesMustBeSigned() && version != CountedConfigVersion()) {
      WriteLogF("ConfigLoaded 配置数据未能加载 应答宣布的版本[%d] 已校验的版本[%d]", version,
                CountedConfigVersion());
      std::string url;
      if (rt::ReadString(call, "url", url))
        WriteLogF("CheckConfig 配置数据加载地址:\"%s\"", url.c_str());
      FailStart("CheckConfig 无效的数据!");
      return;
    }
    // Go on with the stored configuration.
    PostOperation(kLauncherModule, "CheckPlatform");
    return;
  }
  trust::DocumentRole kind;
  if (!SignatureAccepted("ConfigLoaded", text, opsign, {trust::DocumentRole::ConfigData}, kind)) {
    FailStart("CheckConfig 无效的数据!");
    return;
  }
  Json::Value data;
  if (version == 0 || !rt::ParseJson(text, data) || !rt::IsNonEmptyObject(data)) {
    FailStart("配置信息错误.");
    return;
  }
  const LauncherApp& app = LauncherApp::Get();
  if (RepliesMustBeSigned()) {
    // Bound to the reply (digest, size, version) and https only; stored with
    // its signature, as received.
    if (!AcceptConfigData(text, data, call)) {
      FailStart("CheckConfig 无效的数据!");
      return;
    }
    StoreVerifiedConfig(text, GetLoadedSignature(opsign), data, version);
  } else {
    WriteConfigJson("CFG_ConfigData", data);
  }
  Json::Value info = LoadConfigJson("CFG_ConfigInfo");
  if (rt::IsObjectOrNull(info)) {
    info["version"] = version;
    info["UnionCode"] = app.unionCode;
    info["DebugCode"] = app.debugCode;
    WriteConfigJson("CFG_ConfigInfo", info);
  }
  WriteLogF("更新[配置]到版本[%d]", version);
  PostOperation(kLauncherModule, "CheckPlatform");
}
