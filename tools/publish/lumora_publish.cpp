// lumora_publish: the operator's publishing tool (a native Linux program over
// OpenSSL's libcrypto; it runs where the operator's signing key is kept). It
// makes the signing key pair, signs documents of each kind, writes, refreshes
// and rolls back release folders with the site a stock nginx serves, and
// checks a live site. docs/publishing.md is its manual.
//
//   lumora_publish keygen <folder>
//   lumora_publish keyid <public key .pem>
//   lumora_publish sign <private key .pem> --kind <kind> <file>...      (writes <file>.sig)
//   lumora_publish verify <public key .pem> <file> [<signature file>] [--kind <kind>]
//   lumora_publish digest <file>...
//   lumora_publish release <release.json> --packages <folder> --key <private key .pem>
//                          --out <folder> [--valid-hours N] [--issued <s>] [--allow-http]
//                          [site options]                     (also <out>/site: site_layout.h)
//   lumora_publish refresh <release folder> --key <private key .pem> [--valid-hours N]
//                          [site options]                     (and <folder>/site when there)
//   lumora_publish rollback <old release folder> --config-version N --key <private key .pem>
//                          --out <folder> [--config-url <address>] [--valid-hours N]
//                          [site options]                     (also <out>/site)
//   lumora_publish check --key <public key .pem>... --config-endpoint <address> [options]
//                                                             (a live site: site_check.h)
//
// Site options: --site-root <folder on the server>, --tls <certificate folder>,
// --config-endpoint <address>, --statistics-endpoint <address>. A release
// folder keeps the ones it was written with (site-options.json): refresh, and
// rollback from it, lay the site out the same way unless given others.
// Kinds: config-reply, config-data, launcher-update, call-answer. A
// signature file holds the value of the response header X-Lumora-Signature
// that must travel with the file's bytes: "k=<key id>; s=<base64 DER>".
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "freshness.h"
#include "json_util.h"
#include "publish_crypto.h"
#include "publish_files.h"
#include "release_site.h"
#include "site_check.h"
#include "site_layout.h"

namespace {

using namespace publish;

int Usage() {
  std::cerr
      << "usage:\n"
         "  lumora_publish keygen <folder>\n"
         "  lumora_publish keyid <public key .pem>\n"
         "  lumora_publish sign <private key .pem> --kind <kind> <file>...\n"
         "  lumora_publish verify <public key .pem> <file> [<signature file>] [--kind <kind>]\n"
         "  lumora_publish digest <file>...\n"
         "  lumora_publish release <release.json> --packages <folder> --key <private key .pem> "
         "--out <folder> [--valid-hours N] [--issued <seconds>] [--allow-http]\n"
         "  lumora_publish refresh <release folder> --key <private key .pem> [--valid-hours N] "
         "[--issued <seconds>]\n"
         "  lumora_publish rollback <old release folder> --config-version N --key <private key "
         ".pem> --out <folder> [--config-url <address>] [--valid-hours N] [--issued <seconds>]\n"
         "  lumora_publish check --key <public key .pem> [--key ...] --config-endpoint <address>\n"
         "                 [--statistics-endpoint <address>] [--ca <file>] [--launcher-version <v>]\n"
         "                 [--union-code <n>] [--allow-http] [--expiry-margin <hours>] [--state <file>]\n"
         "                 (exit code 0: as launchers need it; 1: a problem; 3: only warnings)\n"
         "kinds: config-reply, config-data, launcher-update, call-answer\n"
         "site options (release, refresh, rollback): [--site-root <folder on the server>] "
         "[--tls <certificate folder>] [--config-endpoint <address>] "
         "[--statistics-endpoint <address>]\n";
  return 2;
}

// --- the site and its check (dispatch; the work is in site_*.cpp) ---------------

// Takes the site options out of `args` (the rest is the command's own).
site::SiteOptions TakeSiteOptions(std::vector<std::string>& args) {
  site::SiteOptions options;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool valued = i + 1 < args.size();
    if (valued && args[i] == "--site-root") options.root = args[++i];
    else if (valued && args[i] == "--tls") options.tlsFolder = args[++i];
    else if (valued && args[i] == "--config-endpoint") options.configEndpoint = args[++i];
    else if (valued && args[i] == "--statistics-endpoint") options.statisticsEndpoint = args[++i];
    else rest.push_back(args[i]);
  }
  args = rest;
  return options;
}

// The site options a release folder was written with, beside its description.
const char kSiteOptions[] = "site-options.json";
const struct {
  const char* member;
  std::string site::SiteOptions::*field;
} kSiteOptionMembers[] = {{"siteRoot", &site::SiteOptions::root},
                          {"tls", &site::SiteOptions::tlsFolder},
                          {"configEndpoint", &site::SiteOptions::configEndpoint},
                          {"statisticsEndpoint", &site::SiteOptions::statisticsEndpoint}};

// `given`, with each option it leaves out taken from those `folder` keeps.
site::SiteOptions WithKeptOptions(const std::string& folder, site::SiteOptions given) {
  std::string text;
  Json::Value kept;
  if (!ReadFile(JoinPath(folder, kSiteOptions), text)) return given;
  if (!rt::ParseJson(text, kept) || !kept.isObject())
    Fail(JoinPath(folder, kSiteOptions) + " is not a JSON object");
  for (const auto& option : kSiteOptionMembers)
    if ((given.*option.field).empty()) given.*option.field = rt::StringMember(kept, option.member);
  return given;
}

void KeepOptions(const std::string& folder, const site::SiteOptions& options) {
  Json::Value kept(Json::objectValue);
  for (const auto& option : kSiteOptionMembers)
    if (!(options.*option.field).empty()) kept[option.member] = options.*option.field;
  WriteFile(JoinPath(folder, kSiteOptions), rt::StyledText(kept));
}

// The release's site in <out>/site, from the release description kept in
// <out> (release.json).
int WriteReleaseSite(const std::string& out, const site::SiteOptions& options) {
  const std::string description = JoinPath(out, "release.json");
  std::string why;
  Json::Value release;
  if (!rt::ParseJson(ReadWhole(description), release)) Fail("cannot read " + description);
  site::SitePlan plan;
  if (!site::PlanRelease(release, out, options, plan, why)) Fail("the site: " + why);
  const std::string folder = JoinPath(out, "site");
  if (!site::WriteSite(plan, folder, why)) Fail("the site: " + why);
  KeepOptions(out, options);
  std::cout << "site: " << folder << " (copy it to " << plan.root << " on the server; its nginx.conf "
            << "goes into nginx's http block; then nginx -t && nginx -s reload):\n";
  for (const site::ServedFile& file : plan.files)
    std::cout << "  " << file.url.Origin() << file.url.path << (file.signature.empty() ? "" : " (signed)")
              << "\n";
  std::cout << "  " << plan.replies.endpoint.Origin() << plan.replies.endpoint.path
            << (plan.replies.endpoint.path == "/" ? "" : "/") << "starterUpdate.do"
            << (plan.replies.launcherUpdate
                    ? " (the launcher update for v below " + std::to_string(plan.replies.newestLauncher) + ")"
                    : "")
            << "\n";
  return 0;
}

// Where `lumora_publish check --state` keeps what launchers have verified.
trust::TrustState ReadCheckState(const std::string& path) {
  std::string text;
  if (path.empty() || !ReadFile(path, text)) return trust::TrustState();  // a first run
  Json::Value record;
  if (!rt::ParseJson(text, record) || !record.isObject()) Fail(path + " is not a JSON object");
  return trust::ReadTrustState(record);
}

int Check(const std::vector<std::string>& args) {
  site::CheckOptions options;
  options.now = static_cast<int64_t>(std::time(nullptr));
  site::FetchOptions fetch;
  std::vector<PkeyPtr> keys;
  std::string statePath;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--allow-http") {
      options.allowHttp = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage();
    const std::string& value = args[++i];
    if (option == "--key") keys.push_back(ReadPublicKey(value));
    else if (option == "--config-endpoint") options.configEndpoint = value;
    else if (option == "--statistics-endpoint") options.statisticsEndpoint = value;
    else if (option == "--ca") fetch.caFile = value;
    else if (option == "--launcher-version") options.launcherVersion = std::atoi(value.c_str());
    else if (option == "--union-code") options.unionCode = std::atoi(value.c_str());
    else if (option == "--state") statePath = value;
    else if (option == "--expiry-margin") {
      char* end = nullptr;
      const long long hours = std::strtoll(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || hours < 0 || hours > 744)
        Fail("--expiry-margin takes whole hours from 0 to 744: " + value);
      options.expiryMargin = hours * 3600;
    } else return Usage();
  }
  if (keys.empty() || options.configEndpoint.empty()) return Usage();
  options.seen = ReadCheckState(statePath);
  // The tool's own verification, with every key the launchers carry.
  const site::Verifier verify = [&](const std::vector<trust::DocumentRole>& roles,
                                    const std::string& bytes, const std::string& header,
                                    trust::DocumentRole& role, std::string& why) {
    std::string first;
    for (const PkeyPtr& key : keys) {
      if (VerifyDocument(key.get(), bytes, header, roles, role, why)) return true;
      if (first.empty() || why.compare(0, 16, "signed with anot") != 0) first = why;
    }
    why = first;
    return false;
  };
  const site::Fetcher get = [&](const std::string& url) { return site::Fetch(url, fetch); };
  const site::CheckReport report = site::CheckSite(options, get, verify);
  for (const std::string& line : report.ok) std::cout << "ok: " << line << "\n";
  for (const std::string& line : report.warnings) std::cout << "WARNING: " << line << "\n";
  for (const std::string& line : report.problems) std::cout << "PROBLEM: " << line << "\n";
  if (!statePath.empty() && !(report.newest == options.seen)) {
    WriteFile(statePath, rt::StyledText(trust::TrustStateRecord(report.newest)));
    std::cout << "check: " << statePath << " keeps configuration version "
              << report.newest.configVersion << ", issued " << trust::UtcText(report.newest.issued)
              << " (what launchers have now verified)\n";
  }
  if (!report.problems.empty()) {
    std::cout << "check: " << report.problems.size() << " problem(s)\n";
    return 1;
  }
  if (!report.warnings.empty()) {
    std::cout << "check: the site is as launchers need it, with " << report.warnings.size()
              << " warning(s)\n";
    return 3;
  }
  std::cout << "check: the site is as launchers need it\n";
  return 0;
}

// A command's words: positional ones, "--name value" options and flags.
struct Words {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::set<std::string> flags;
};

bool Split(const std::vector<std::string>& args, const std::set<std::string>& withValue,
           const std::set<std::string>& flags, Words& words) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.rfind("--", 0) != 0) {
      words.positional.push_back(word);
    } else if (flags.count(word) != 0) {
      words.flags.insert(word);
    } else if (withValue.count(word) != 0 && i + 1 < args.size()) {
      words.options[word] = args[++i];
    } else {
      return false;
    }
  }
  return true;
}

int64_t Number(const std::string& text, const char* what) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') Fail(std::string(what) + " must be a whole number: " + text);
  return value;
}

trust::DocumentRole Kind(const std::string& name) {
  trust::DocumentRole role;
  if (!trust::RoleFromName(name, role))
    Fail("unknown kind \"" + name +
         "\" (config-reply, config-data, launcher-update or call-answer)");
  return role;
}

SignOptions OptionsOf(const Words& words) {
  SignOptions options;
  auto found = words.options.find("--valid-hours");
  if (found != words.options.end()) options.validHours = Number(found->second, "--valid-hours");
  found = words.options.find("--issued");
  if (found != words.options.end()) options.issued = Number(found->second, "--issued");
  options.allowHttp = words.flags.count("--allow-http") != 0;
  return options;
}

std::string Option(const Words& words, const char* name) {
  auto found = words.options.find(name);
  return found == words.options.end() ? std::string() : found->second;
}

int Run(std::vector<std::string> args) {
  if (args.empty()) return Usage();
  const std::string command = args[0];
  if (command == "check") return Check(args);
  const site::SiteOptions siteOptions = TakeSiteOptions(args);
  Words words;
  if (command == "keygen" && args.size() == 2) return KeyGen(args[1]);
  if (command == "keyid" && args.size() == 2) {
    std::cout << KeyIdText(ReadPublicKey(args[1]).get()) << "\n";
    return 0;
  }
  if (command == "sign") {
    if (!Split(args, {"--kind"}, {}, words) || words.positional.size() < 2 ||
        Option(words, "--kind").empty())
      return Usage();
    const trust::DocumentRole role = Kind(Option(words, "--kind"));
    PkeyPtr key = ReadPrivateKey(words.positional[0]);
    for (size_t i = 1; i < words.positional.size(); ++i) {
      const std::string& file = words.positional[i];
      WriteFile(file + ".sig", SignDocument(key.get(), role, ReadWhole(file)) + "\n");
      std::cout << file << ".sig (" << trust::RoleName(role) << ")\n";
    }
    return 0;
  }
  if (command == "verify") {
    if (!Split(args, {"--kind"}, {}, words) || words.positional.size() < 2 ||
        words.positional.size() > 3)
      return Usage();
    PkeyPtr key = ReadPublicKey(words.positional[0]);
    const std::string& file = words.positional[1];
    const std::string sigPath = words.positional.size() == 3 ? words.positional[2] : file + ".sig";
    std::vector<trust::DocumentRole> roles;
    if (!Option(words, "--kind").empty()) roles.push_back(Kind(Option(words, "--kind")));
    trust::DocumentRole role = trust::DocumentRole::ConfigReply;
    std::string why;
    if (!VerifyDocument(key.get(), ReadWhole(file), FirstLine(ReadWhole(sigPath)), roles, role,
                        why)) {
      std::cout << file << ": NOT VALID: " << why << "\n";
      return 1;
    }
    std::cout << file << ": valid (" << trust::RoleName(role) << ")\n";
    return 0;
  }
  if (command == "digest" && args.size() >= 2) {
    for (size_t i = 1; i < args.size(); ++i) {
      long long size = 0;
      std::cout << trust::DigestText(FileDigest(args[i], size)) << "  " << size << "  " << args[i]
                << "\n";
    }
    return 0;
  }
  if (command == "release") {
    if (!Split(args, {"--packages", "--key", "--out", "--valid-hours", "--issued"},
               {"--allow-http"}, words) ||
        words.positional.size() != 1 || Option(words, "--packages").empty() ||
        Option(words, "--key").empty() || Option(words, "--out").empty())
      return Usage();
    const int result = Release(words.positional[0], Option(words, "--packages"),
                               Option(words, "--key"), Option(words, "--out"), OptionsOf(words));
    return result != 0 ? result : WriteReleaseSite(Option(words, "--out"), siteOptions);
  }
  if (command == "refresh") {
    if (!Split(args, {"--key", "--valid-hours", "--issued"}, {}, words) ||
        words.positional.size() != 1 || Option(words, "--key").empty())
      return Usage();
    const std::string& folder = words.positional[0];
    const int result = Refresh(folder, Option(words, "--key"), OptionsOf(words));
    // The site carries the replies and their signature headers: written anew.
    if (result != 0 || !Exists(JoinPath(folder, "site"))) return result;
    return WriteReleaseSite(folder, WithKeptOptions(folder, siteOptions));
  }
  if (command == "rollback") {
    if (!Split(args, {"--config-version", "--config-url", "--key", "--out", "--valid-hours",
                      "--issued"},
               {"--allow-http"}, words) ||
        words.positional.size() != 1 || Option(words, "--config-version").empty() ||
        Option(words, "--key").empty() || Option(words, "--out").empty())
      return Usage();
    const int64_t version = Number(Option(words, "--config-version"), "--config-version");
    if (version <= 0 || version > 2147483647) Fail("--config-version must be from 1 to 2147483647");
    const int result = Rollback(words.positional[0], static_cast<int32_t>(version),
                                Option(words, "--config-url"), Option(words, "--key"),
                                Option(words, "--out"), OptionsOf(words));
    return result != 0 ? result
                       : WriteReleaseSite(Option(words, "--out"),
                                          WithKeptOptions(words.positional[0], siteOptions));
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const publish::Failure& failure) {
    std::cerr << "lumora_publish: " << failure.what << "\n";
    return 1;
  }
}
