#include "trusted_config.h"

#include <windows.h>

#include <cinttypes>

#include "bcrypt_trust.h"
#include "config_keys.h"
#include "config_store.h"
#include "freshness.h"
#include "json_util.h"
#include "launcher_app.h"
#include "log_file.h"
#include "release_rules.h"
#include "signed_reply.h"

namespace {

const char kBadData[] = "CheckConfig 无效的数据!";
const char kUpdateFailed[] = "更新失败,检查网络或重新安装.";

// The configuration verified in this run (at the start, or just loaded).
struct Verified {
  bool present = false;
  int32_t version = 0;
  Json::Value data;
};

Verified& CurrentVerified() {
  static Verified verified;
  return verified;
}

trust::TrustState LoadTrustState() { return trust::ReadTrustState(LoadConfigJson("CFG_Trust")); }

void SaveTrustState(const trust::TrustState& state) {
  WriteConfigJson("CFG_Trust", trust::TrustStateRecord(state));
}

int64_t ClockNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return trust::UnixSecondsFromFileTime(static_cast<uint64_t>(now.dwHighDateTime) << 32 |
                                        now.dwLowDateTime);
}

// The newest configuration version verified: kept in the store, and never
// below the one stored and verified at this start.
int32_t NewestVerifiedVersion(const trust::TrustState& state) {
  const Verified& verified = CurrentVerified();
  return verified.present && verified.version > state.configVersion ? verified.version
                                                                    : state.configVersion;
}

// Why stored configuration data does not count, or empty when it does.
std::string StoredDataProblem(const std::string& text, const std::string& signature,
                              Json::Value& data, int32_t& version) {
  const trust::SignatureCheck check =
      trust::CheckSignedText(text, signature, ConfigKeys(), trust::DocumentRole::ConfigData);
  if (check != trust::SignatureCheck::Verified) return trust::SignatureCheckText(check);
  if (!rt::ParseJson(text, data) || !rt::IsNonEmptyObject(data)) return "不是JSON对象";
  version = rt::IntMember(data, "version", 0);
  const Json::Value info = LoadConfigJson("CFG_ConfigInfo");
  if (version == 0 || rt::IntMember(info, "version", 0) != version) return "版本与记录不符";
  if (!trust::ConfigVersionAllowed(version, LoadTrustState().configVersion))
    return "低于已校验的版本";
  std::string address;
  if (!trust::AddressesAreHttps(data, address)) return "非https地址 " + address;
  return std::string();
}

}  // namespace

void VerifyStoredConfig() {
  Verified& verified = CurrentVerified();
  verified = Verified();
  if (!RepliesMustBeSigned()) return;
  CDBConfig* db = GetConfigDB();
  const std::string text = db != nullptr ? db->ReadValue("CFG_ConfigData") : std::string();
  if (text.empty()) return;  // nothing stored yet
  const std::string signature =
      rt::StringMember(LoadConfigJson("CFG_ConfigSignature"), "signature");
  Json::Value data;
  int32_t version = 0;
  const std::string problem = StoredDataProblem(text, signature, data, version);
  if (!problem.empty()) {
    WriteLogF("已存储的配置校验失败[%s],按无配置处理,将重新加载.", problem.c_str());
    return;
  }
  verified.present = true;
  verified.version = version;
  verified.data.swap(data);
  WriteLogF("已存储的配置校验通过 版本[%d]", version);
}

Json::Value StoredConfigData() {
  if (!RepliesMustBeSigned()) return LoadConfigJson("CFG_ConfigData");
  const Verified& verified = CurrentVerified();
  return verified.present ? verified.data : Json::Value();
}

int32_t CountedConfigVersion() {
  if (!RepliesMustBeSigned()) {
    const Json::Value info = LoadConfigJson("CFG_ConfigInfo");
    return rt::IsNonEmptyObject(info) ? rt::IntMember(info, "version", 0) : 0;
  }
  const Verified& verified = CurrentVerified();
  return verified.present ? verified.version : 0;
}

bool AcceptEndpointReply(const Json::Value& reply, trust::DocumentRole kind,
                         std::string& message) {
  message = kBadData;
  const int32_t code = rt::IntMember(reply, "code", 0);
  const int32_t version = rt::IntMember(reply, "version", 0);
  const std::string url = rt::StringMember(reply, "url");
  if (!trust::ReplyKindFits(code, kind)) {
    WriteLogF("CheckConfig 应答被拒绝[文档类型不符] 代码[%d] 签名类型[%s]", code,
              trust::RoleText(kind));
    return false;
  }
  trust::Validity validity;
  const trust::ValidityRead read = trust::ReadValidity(reply, validity);
  if (read != trust::ValidityRead::Ok) {
    WriteLogF("CheckConfig 应答被拒绝[%s]", trust::ValidityReadText(read));
    return false;
  }
  trust::TrustState state = LoadTrustState();
  const int64_t now = ClockNow();
  const trust::FreshnessJudgement fresh = trust::JudgeFreshness(validity, now, state.issued);
  if (fresh.verdict == trust::Freshness::ExpiredByClock) {
    WriteLogF("CheckConfig 应答被拒绝[应答已过期] 签发[%s] 到期[%s] 本机时间[%s]",
              trust::UtcText(validity.issued).c_str(), trust::UtcText(validity.expires).c_str(),
              trust::UtcText(now).c_str());
    return false;
  }
  if (fresh.verdict == trust::Freshness::ExpiredBySeen) {
    WriteLogF("CheckConfig 应答被拒绝[应答已过期,早于已校验的应答] 到期[%s] 已校验的签发时间[%s]",
              trust::UtcText(validity.expires).c_str(), trust::UtcText(state.issued).c_str());
    return false;
  }
  if (fresh.clockBehind) {
    WriteLogF("CheckConfig 本机时间[%s]早于应答签发时间[%s],请检查系统时间.",
              trust::UtcText(now).c_str(), trust::UtcText(validity.issued).c_str());
  }
  if (code == 2 && !trust::LauncherUpdateIsNewer(version, kLauncherBuildNumber)) {
    WriteLogF("CheckConfig 应答被拒绝[启动器版本不高于当前版本] 当前版本[%d] 应答版本[%d]",
              kLauncherBuildNumber, version);
    message = kUpdateFailed;
    return false;
  }
  if (code == 1 && !trust::ConfigVersionAllowed(version, NewestVerifiedVersion(state))) {
    WriteLogF("CheckConfig 应答被拒绝[配置版本低于已校验的版本] 应答版本[%d] 已校验版本[%d]",
              version, NewestVerifiedVersion(state));
    return false;
  }
  if (!url.empty() && !trust::IsHttpsAddress(url)) {
    WriteLogF("CheckConfig 应答被拒绝[非https地址] 地址:%s", url.c_str());
    return false;
  }
  if (code == 1) {
    trust::DataTerms terms;
    const trust::TermsRead terms_read = trust::ReadDataTerms(reply, terms);
    if (terms_read != trust::TermsRead::Ok) {
      WriteLogF("CheckConfig 应答被拒绝[%s]", terms_read == trust::TermsRead::Missing
                                                  ? "缺少配置数据的sha256与大小"
                                                  : "配置数据的sha256或大小格式错误");
      return false;
    }
  }
  WriteLogF("CheckConfig 应答有效 类型[%s] 签发[%s] 到期[%s]", trust::RoleText(kind),
            trust::UtcText(validity.issued).c_str(), trust::UtcText(validity.expires).c_str());
  const int64_t newest = trust::NewestIssued(state.issued, validity);
  if (newest != state.issued) {
    state.issued = newest;
    SaveTrustState(state);
  }
  return true;
}

bool AcceptConfigData(const std::string& text, const Json::Value& data, const Json::Value& call) {
  trust::DataTerms terms;
  if (trust::ReadDataTerms(call, terms) != trust::TermsRead::Ok) {
    WriteLog("ConfigLoaded 配置数据被拒绝[应答未给出sha256与大小]");
    return false;
  }
  trust::Digest digest{};
  if (!trust::Sha256Of(text, digest)) {
    WriteLog("ConfigLoaded 配置数据被拒绝[无法计算sha256]");
    return false;
  }
  const int64_t size = static_cast<int64_t>(text.size());
  const int32_t dataVersion = rt::IntMember(data, "version", 0);
  const trust::Binding binding = trust::CheckBinding(terms, size, digest, dataVersion);
  if (binding != trust::Binding::Bound) {
    WriteLogF("ConfigLoaded 配置数据被拒绝[%s] 应答: 版本[%d] 大小[%" PRId64 "] sha256[%s] "
              "数据: 版本[%d] 大小[%" PRId64 "] sha256[%s]",
              trust::BindingText(binding), terms.version, terms.size,
              trust::DigestText(terms.digest).c_str(), dataVersion, size,
              trust::DigestText(digest).c_str());
    return false;
  }
  std::string address;
  if (!trust::AddressesAreHttps(data, address)) {
    WriteLogF("ConfigLoaded 配置数据被拒绝[非https地址] 地址:%s", address.c_str());
    return false;
  }
  WriteLogF("ConfigLoaded 配置数据与应答相符 版本[%d] 大小[%" PRId64 "]", dataVersion, size);
  return true;
}

void StoreVerifiedConfig(const std::string& text, const std::string& signature,
                         const Json::Value& data, int32_t version) {
  // The signature first: a start that ends between the two writes finds
  // them not matching, and loads the configuration again.
  Json::Value record(Json::objectValue);
  record["signature"] = signature;
  WriteConfigJson("CFG_ConfigSignature", record);
  WriteConfigText("CFG_ConfigData", text);
  trust::TrustState state = LoadTrustState();
  if (version > state.configVersion) {
    state.configVersion = version;
    SaveTrustState(state);
  }
  Verified& verified = CurrentVerified();
  verified.present = true;
  verified.version = version;
  verified.data = data;
}
