#include "release_rules.h"

#include <cctype>
#include <cstdint>

namespace trust {

namespace {

const Json::Value* Member(const Json::Value& object, const char* name) {
  if (!object.isObject()) return nullptr;
  return object.find(name, name + std::char_traits<char>::length(name));
}

// A JSON integer (not a fraction, not a text) that fits int64.
bool ReadInteger(const Json::Value* value, int64_t& out) {
  if (value == nullptr) return false;
  if (value->type() != Json::intValue && value->type() != Json::uintValue) return false;
  if (!value->isInt64()) return false;
  out = value->asInt64();
  return true;
}

int32_t Int32Member(const Json::Value& object, const char* name) {
  int64_t value = 0;
  if (!ReadInteger(Member(object, name), value) || value < INT32_MIN || value > INT32_MAX)
    return 0;
  return static_cast<int32_t>(value);
}

}  // namespace

bool LauncherUpdateIsNewer(int32_t offered, int32_t running) { return offered > running; }

bool ConfigVersionAllowed(int32_t offered, int32_t newestVerified) {
  return offered >= newestVerified;
}

bool ReplyKindFits(int32_t code, DocumentRole role) {
  if (code == 1) return role == DocumentRole::ConfigReply;
  if (code == 2) return role == DocumentRole::LauncherUpdate;
  return true;
}

bool IsHttpsAddress(const std::string& url) {
  static const char kScheme[] = "https://";
  const size_t length = sizeof kScheme - 1;
  if (url.size() <= length) return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
  return true;
}

bool AddressesAreHttps(const Json::Value& data, std::string& address) {
  for (const char* entry : {"platform", "info"}) {
    const Json::Value* part = Member(data, entry);
    if (part == nullptr) continue;
    const Json::Value* url = Member(*part, "url");
    if (url == nullptr || !url->isString()) continue;  // no address: nothing fetched
    if (!IsHttpsAddress(url->asString())) {
      address = url->asString();
      return false;
    }
  }
  return true;
}

TermsRead ReadDataTerms(const Json::Value& reply, DataTerms& terms) {
  const Json::Value* digest = Member(reply, "sha256");
  const Json::Value* size = Member(reply, "size");
  if (digest == nullptr && size == nullptr) return TermsRead::Missing;
  DataTerms read;
  read.version = Int32Member(reply, "version");
  if (read.version == 0 || digest == nullptr || !digest->isString() ||
      !ParseDigest(digest->asString(), read.digest) || !ReadInteger(size, read.size) ||
      read.size < 0)
    return TermsRead::Malformed;
  terms = read;
  return TermsRead::Ok;
}

Binding CheckBinding(const DataTerms& terms, int64_t size, const Digest& digest,
                     int32_t dataVersion) {
  if (size != terms.size) return Binding::SizeDiffers;
  if (digest != terms.digest) return Binding::DigestDiffers;
  if (dataVersion != terms.version) return Binding::VersionDiffers;
  return Binding::Bound;
}

const char* BindingText(Binding binding) {
  switch (binding) {
    case Binding::Bound:
      return "与应答相符";
    case Binding::SizeDiffers:
      return "大小与应答不符";
    case Binding::DigestDiffers:
      return "sha256与应答不符";
    case Binding::VersionDiffers:
      return "版本与应答不符";
  }
  return "?";
}

TrustState ReadTrustState(const Json::Value& record) {
  TrustState state;
  state.configVersion = Int32Member(record, "configVersion");
  int64_t issued = 0;
  if (ReadInteger(Member(record, "issued"), issued) && issued > 0) state.issued = issued;
  return state;
}

Json::Value TrustStateRecord(const TrustState& state) {
  Json::Value record(Json::objectValue);
  record["configVersion"] = state.configVersion;
  record["issued"] = static_cast<Json::Int64>(state.issued);
  return record;
}

}  // namespace trust
