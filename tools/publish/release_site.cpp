#include "release_site.h"

#include <sys/stat.h>

#include <ctime>
#include <iostream>

#include "freshness.h"
#include "json_util.h"
#include "publish_crypto.h"
#include "publish_files.h"
#include "release_rules.h"

namespace publish {

namespace {

using trust::DocumentRole;

const char kData[] = "config.json";
const char kReply[] = "starterUpdate.json";
const char kLauncherReply[] = "starterUpdate.launcher.json";
const char kDescription[] = "release.json";

trust::Validity ValidityFor(const SignOptions& options) {
  if (options.validHours < 1 || options.validHours * 3600 > trust::kMaxValiditySeconds)
    Fail("--valid-hours must be from 1 to " + std::to_string(trust::kMaxValiditySeconds / 3600) +
         " (launchers refuse longer validities)");
  trust::Validity validity;
  validity.issued = options.issued != 0 ? options.issued : static_cast<int64_t>(std::time(nullptr));
  validity.expires = validity.issued + options.validHours * 3600;
  return validity;
}

void Stamp(Json::Value& reply, const trust::Validity& validity) {
  reply["issued"] = static_cast<Json::Int64>(validity.issued);
  reply["expires"] = static_cast<Json::Int64>(validity.expires);
}

void CheckAddress(const std::string& url, const std::string& what, const SignOptions& options) {
  if (url.empty()) Fail(what + ": no address");
  if (!options.allowHttp && !trust::IsHttpsAddress(url))
    Fail(what + ": " + url + " is not https; launchers with a key refuse it " +
         "(--allow-http only for launchers without one)");
}

void WriteSigned(EVP_PKEY* key, DocumentRole role, const std::string& path,
                 const std::string& text) {
  WriteFile(path, text);
  WriteFile(path + ".sig", SignDocument(key, role, text) + "\n");
}

void SetSize(Json::Value& object, long long size) {
  if (size <= 2147483647LL)
    object["size"] = static_cast<Json::Int>(size);
  else
    object["size"] = static_cast<Json::Int64>(size);
}

// The configuration reply naming `dataText` as version `version` at `url`.
Json::Value ConfigReplyFor(const std::string& dataText, int32_t version, const std::string& url,
                           const trust::Validity& validity) {
  Json::Value reply(Json::objectValue);
  reply["code"] = 1;
  reply["version"] = version;
  reply["url"] = url;
  reply["sha256"] = trust::DigestText(Sha256(dataText));
  SetSize(reply, static_cast<long long>(dataText.size()));
  Stamp(reply, validity);
  return reply;
}

// The configuration version a release folder serves now (0: none).
int32_t ServedVersion(const std::string& folder) {
  std::string text;
  Json::Value reply;
  if (!ReadFile(JoinPath(folder, kReply), text) || !rt::ParseJson(text, reply)) return 0;
  return rt::IntMember(reply, "version", 0);
}

// Configuration versions never go back: launchers refuse a lower one.
void CheckNewer(int32_t version, const std::string& out) {
  const int32_t served = ServedVersion(out);
  if (served != 0 && version <= served)
    Fail("configuration version " + std::to_string(version) + " is not newer than the " +
         std::to_string(served) + " that " + out + " serves; launchers never go back to an " +
         "older one (publish old content with \"rollback\" under a newer version; re-sign the " +
         "same release with \"refresh\")");
}

// A file of a release with its signature, checked as a document of `role`.
std::string ReadSigned(EVP_PKEY* key, const std::string& path, DocumentRole role) {
  const std::string text = ReadWhole(path);
  const std::string header = FirstLine(ReadWhole(path + ".sig"));
  DocumentRole matched = role;
  std::string why;
  if (!VerifyDocument(key, text, header, {role}, matched, why))
    Fail(path + ": " + why + "; not signed again");
  return text;
}

Json::Value ParsedObject(const std::string& text, const std::string& path) {
  Json::Value value;
  if (!rt::ParseJson(text, value) || !value.isObject()) Fail(path + " is not a JSON object");
  return value;
}

Json::Value PackageEntry(const Json::Value& part, const std::string& packages,
                         const std::string& base, const std::string& out, const char* what,
                         const SignOptions& options) {
  const std::string package = rt::StringMember(part, "package");
  const int32_t version = rt::IntMember(part, "version", 0);
  if (package.empty() || package.find('/') != std::string::npos)
    Fail(std::string(what) + ": \"package\" must be a file name in the packages folder");
  if (version == 0) Fail(std::string(what) + ": \"version\" must be a non-zero integer");
  const std::string path = JoinPath(packages, package);
  long long size = 0;
  const trust::Digest digest = FileDigest(path, size);
  WriteFile(JoinPath(out, package), ReadWhole(path));
  Json::Value entry(Json::objectValue);
  entry["version"] = version;
  entry["url"] = part.isMember("url") ? rt::StringMember(part, "url") : base + package;
  CheckAddress(entry["url"].asString(), what, options);
  entry["sha256"] = trust::DigestText(digest);
  SetSize(entry, size);
  std::cout << "  " << what << " " << version << ": " << package << ", " << size << " bytes, sha256 "
            << trust::DigestText(digest) << "\n";
  return entry;
}

void SayValidity(const trust::Validity& validity) {
  std::cout << "  replies issued " << trust::UtcText(validity.issued) << ", valid until "
            << trust::UtcText(validity.expires)
            << " (refresh before then: lumora_publish refresh)\n";
}

}  // namespace

int Release(const std::string& description, const std::string& packages,
            const std::string& keyPath, const std::string& out, const SignOptions& options) {
  const std::string descriptionText = ReadWhole(description);
  const Json::Value release = ParsedObject(descriptionText, description);
  PkeyPtr key = ReadPrivateKey(keyPath);
  const trust::Validity validity = ValidityFor(options);
  if (!MakeFolders(out)) Fail("cannot make the folder " + out);
  const std::string base = rt::StringMember(release, "packageBase");
  const std::string configUrl = rt::StringMember(release, "configUrl");
  const int32_t configVersion = rt::IntMember(release, "configVersion", 0);
  if (configUrl.empty() || configVersion == 0)
    Fail("the release needs \"configUrl\" (text) and \"configVersion\" (non-zero integer)");
  CheckAddress(configUrl, "configUrl", options);
  CheckNewer(configVersion, out);
  std::cout << "release into " << out << ", signed with key " << KeyIdText(key.get()) << ":\n";

  // The configuration data: what the operator adds, then the packages, and
  // its own version.
  Json::Value data(Json::objectValue);
  if (release.isMember("configExtra")) {
    if (!release["configExtra"].isObject()) Fail("\"configExtra\" must be an object");
    data = release["configExtra"];
  }
  if (release.isMember("platform"))
    data["platform"] = PackageEntry(release["platform"], packages, base, out, "platform", options);
  if (!release.isMember("hall")) Fail("the release needs \"hall\" (the launcher refuses without)");
  Json::Value hall = PackageEntry(release["hall"], packages, base, out, "hall", options);
  hall["file"] = rt::StringMember(release["hall"], "file", "Orlune.exe");
  if (release["hall"].isMember("params")) {
    if (!release["hall"]["params"].isString()) Fail("hall \"params\" must be a text");
    hall["params"] = release["hall"]["params"];
  }
  data["info"] = hall;
  data["version"] = configVersion;
  const std::string dataText = rt::StyledText(data);
  WriteSigned(key.get(), DocumentRole::ConfigData, JoinPath(out, kData), dataText);

  // The configuration reply of a launcher that is up to date.
  Json::Value reply = ConfigReplyFor(dataText, configVersion, configUrl, validity);
  if (release.isMember("calls")) {
    if (!release["calls"].isArray()) Fail("\"calls\" must be an array of operation-call texts");
    reply["data"] = release["calls"];
  }
  WriteSigned(key.get(), DocumentRole::ConfigReply, JoinPath(out, kReply), rt::StyledText(reply));
  std::cout << "  configuration " << configVersion << " at " << configUrl << "\n";

  // The reply that orders a launcher update.
  if (release.isMember("launcher")) {
    const Json::Value& launcher = release["launcher"];
    const int32_t type = rt::IntMember(launcher, "type", 1);
    if (type != 1 && type != 2) Fail("launcher \"type\" must be 1 or 2");
    Json::Value update = PackageEntry(launcher, packages, base, out, "launcher", options);
    update["code"] = 2;
    update["type"] = type;
    Stamp(update, validity);
    WriteSigned(key.get(), DocumentRole::LauncherUpdate, JoinPath(out, kLauncherReply),
                rt::StyledText(update));
  }
  // The description beside what it made: the site is laid out from it, now
  // and after a refresh.
  WriteFile(JoinPath(out, kDescription), descriptionText);
  SayValidity(validity);
  std::cout << "written: " << kData << ", " << kReply
            << (release.isMember("launcher") ? std::string(", ") + kLauncherReply : "")
            << " (each with its .sig), the packages and " << kDescription << "\n";
  return 0;
}

int Refresh(const std::string& site, const std::string& keyPath, const SignOptions& options) {
  PkeyPtr key = ReadPrivateKey(keyPath);
  const trust::Validity validity = ValidityFor(options);
  const struct {
    const char* name;
    DocumentRole role;
  } replies[] = {{kReply, DocumentRole::ConfigReply},
                 {kLauncherReply, DocumentRole::LauncherUpdate}};
  int refreshed = 0;
  for (const auto& file : replies) {
    const std::string path = JoinPath(site, file.name);
    if (!Exists(path)) {
      if (file.role == DocumentRole::ConfigReply) Fail(path + " does not exist");
      continue;
    }
    Json::Value reply = ParsedObject(ReadSigned(key.get(), path, file.role), path);
    if (file.role == DocumentRole::ConfigReply && Exists(JoinPath(site, kData))) {
      // The data the reply names must still be the data that was signed.
      const std::string data = ReadSigned(key.get(), JoinPath(site, kData), DocumentRole::ConfigData);
      trust::DataTerms terms;
      Json::Value parsed;
      rt::ParseJson(data, parsed);
      if (trust::ReadDataTerms(reply, terms) != trust::TermsRead::Ok ||
          trust::CheckBinding(terms, static_cast<int64_t>(data.size()), Sha256(data),
                              rt::IntMember(parsed, "version", 0)) != trust::Binding::Bound)
        Fail(path + " does not name " + JoinPath(site, kData) + " as it is; not signed again");
    }
    Stamp(reply, validity);
    WriteSigned(key.get(), file.role, path, rt::StyledText(reply));
    std::cout << "  " << path << ": signed again\n";
    ++refreshed;
  }
  SayValidity(validity);
  return refreshed > 0 ? 0 : 1;
}

int Rollback(const std::string& old, int32_t version, const std::string& configUrl,
             const std::string& keyPath, const std::string& out, const SignOptions& options) {
  PkeyPtr key = ReadPrivateKey(keyPath);
  const trust::Validity validity = ValidityFor(options);
  const std::string oldData = ReadSigned(key.get(), JoinPath(old, kData), DocumentRole::ConfigData);
  const Json::Value oldReply =
      ParsedObject(ReadSigned(key.get(), JoinPath(old, kReply), DocumentRole::ConfigReply),
                   JoinPath(old, kReply));
  Json::Value data = ParsedObject(oldData, JoinPath(old, kData));
  const int32_t oldVersion = rt::IntMember(data, "version", 0);
  if (version <= oldVersion)
    Fail("the new version " + std::to_string(version) + " must be newer than " +
         std::to_string(oldVersion) + ", the version of " + old);
  if (!MakeFolders(out)) Fail("cannot make the folder " + out);
  CheckNewer(version, out);
  const std::string url = configUrl.empty() ? rt::StringMember(oldReply, "url") : configUrl;
  CheckAddress(url, "the configuration's address", options);
  std::cout << "configuration " << oldVersion << " of " << old << " again as " << version
            << " into " << out << ", signed with key " << KeyIdText(key.get()) << ":\n";

  // The packages the data names, copied when they lie beside it, and each
  // checked against its digest; the description of the new release names
  // them (the site is laid out from it).
  Json::Value description(Json::objectValue);
  description["configVersion"] = version;
  description["configUrl"] = url;
  for (const char* part : {"platform", "info"}) {
    const Json::Value entry = rt::MemberOrNull(data, part);
    const std::string address = rt::StringMember(entry, "url");
    if (address.empty()) continue;
    CheckAddress(address, part, options);
    const std::string name = address.substr(address.find_last_of('/') + 1);
    const std::string source = JoinPath(old, name);
    if (!Exists(source)) {
      std::cout << "  " << part << ": " << address << " (not in " << old << "; served as it is)\n";
      continue;
    }
    long long size = 0;
    const trust::Digest digest = FileDigest(source, size);
    if (trust::DigestText(digest) != rt::StringMember(entry, "sha256"))
      Fail(source + " does not match the SHA-256 its entry names");
    if (JoinPath(out, name) != source) WriteFile(JoinPath(out, name), ReadWhole(source));
    Json::Value& described = description[std::string(part) == "info" ? "hall" : part];
    described["version"] = rt::IntMember(entry, "version", 0);
    described["package"] = name;
    described["url"] = address;
    std::cout << "  " << part << " " << rt::IntMember(entry, "version", 0) << ": " << name
              << " (" << size << " bytes)\n";
  }
  data["version"] = version;
  const std::string dataText = rt::StyledText(data);
  WriteSigned(key.get(), DocumentRole::ConfigData, JoinPath(out, kData), dataText);
  Json::Value reply = ConfigReplyFor(dataText, version, url, validity);
  if (oldReply.isMember("data")) reply["data"] = oldReply["data"];
  WriteSigned(key.get(), DocumentRole::ConfigReply, JoinPath(out, kReply), rt::StyledText(reply));
  WriteFile(JoinPath(out, kDescription), rt::StyledText(description));
  SayValidity(validity);
  std::cout << "written: " << kData << ", " << kReply << " (each with its .sig) and "
            << kDescription << "\n";
  return 0;
}

}  // namespace publish
