#include "site_check.h"

#include <json/json.h>

#include "freshness.h"
#include "json_util.h"
#include "trust_text.h"

namespace site {

namespace {

using trust::DocumentRole;

const char kSignatureHeader[] = "x-lumora-signature";

std::string Hours(int64_t seconds) {
  return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

std::string TermsText(int32_t version, int64_t size, const std::string& digest) {
  return "version " + std::to_string(version) + ", " + std::to_string(size) + " bytes, SHA-256 " + digest;
}

const char* BindingName(trust::Binding binding) {
  switch (binding) {
    case trust::Binding::Bound:
      return "bound";
    case trust::Binding::SizeDiffers:
      return "its size differs";
    case trust::Binding::DigestDiffers:
      return "its SHA-256 differs";
    case trust::Binding::VersionDiffers:
      return "its own version differs";
  }
  return "?";
}

class Checker {
 public:
  Checker(const CheckOptions& options, const Fetcher& fetch, const Verifier& verify)
      : options_(options), fetch_(fetch), verify_(verify) {
    newest_ = options.seen;
  }

  CheckReport Run() {
    std::string base = options_.configEndpoint;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (base.empty()) {
      report_.problems.push_back("no configuration endpoint given");
      return Done();
    }

    // An old launcher: the launcher update, when the site publishes one.
    Json::Value reply;
    int32_t newest = 0;
    if (!Reply(base, 1, "the configuration reply for an old launcher (v=1)", reply)) return Done();
    Json::Value current = reply;
    if (rt::IntMember(reply, "code", 0) == 2) {
      newest = LauncherUpdate(reply, 1);
      if (newest != 0) {
        Json::Value again;
        const std::string what =
            "the configuration reply for the newest launcher (v=" + std::to_string(newest) + ")";
        if (!Reply(base, newest, what, again)) return Done();
        if (rt::IntMember(again, "code", 0) != 1) {
          report_.problems.push_back(what + " is not a configuration step (code 1): launchers at the "
                                     "newest version would update themselves again and again");
          return Done();
        }
        current = again;
      }
    } else {
      report_.ok.push_back("no launcher update is published: an old launcher (v=1) gets the configuration");
    }

    // The launchers that players have now.
    const int32_t v = options_.launcherVersion;
    if (v != 1 && v != newest) {
      Json::Value theirs;
      if (Reply(base, v, "the configuration reply for v=" + std::to_string(v), theirs)) {
        if (rt::IntMember(theirs, "code", 0) == 2) {
          const int32_t offered = rt::IntMember(theirs, "version", 0);
          // The update judged above (and its package fetched) needs no second look.
          const bool judged = offered == newest && trust::LauncherUpdateIsNewer(offered, v);
          if (judged || LauncherUpdate(theirs, v) != 0)
            report_.ok.push_back("launchers of version " + std::to_string(v) +
                                 " are offered the launcher update to " + std::to_string(offered));
        } else {
          report_.ok.push_back("launchers of version " + std::to_string(v) + " get the configuration step");
        }
      }
    }

    Configuration(current);
    if (!options_.statisticsEndpoint.empty()) Statistics();
    return Done();
  }

 private:
  CheckReport Done() {
    // What a launcher would keep: only from a site that passes.
    report_.newest = report_.problems.empty() ? newest_ : options_.seen;
    return report_;
  }

  std::string ReplyAddress(const std::string& base, int32_t v) const {
    return base + "/starterUpdate.do?v=" + std::to_string(v) + "&did=lumora_publish_check&u=" +
           std::to_string(options_.unionCode) + "&d=0&cv=" + std::to_string(options_.seen.configVersion);
  }

  // Fetches `url`: an answer with status 2xx over https (unless allowed).
  bool Get(const std::string& url, const std::string& what, Response& response) {
    if (!trust::IsHttpsAddress(url) && !options_.allowHttp) {
      report_.problems.push_back(what + " at " + url + " is not https (launchers with a key refuse it)");
      return false;
    }
    response = fetch_(url);
    if (!response.ok) {
      report_.problems.push_back(what + " at " + url + ": " + response.error);
      return false;
    }
    if (response.status < 200 || response.status > 299) {
      report_.problems.push_back(what + " at " + url + " answers HTTP " + std::to_string(response.status));
      return false;
    }
    return true;
  }

  // A JSON object signed as one of `roles` (the kind it is signed as in `role`).
  bool Signed(const std::string& url, const std::vector<DocumentRole>& roles, const std::string& what,
              Json::Value& document, DocumentRole& role, Response& response) {
    if (!Get(url, what, response)) return false;
    if (response.size != static_cast<long long>(response.body.size())) {
      report_.problems.push_back(what + " at " + url + " is too large to be a document (" +
                                 std::to_string(response.size) + " bytes)");
      return false;
    }
    const std::string header = response.Header(kSignatureHeader);
    std::string why;
    if (!verify_(roles, response.body, header, role, why)) {
      report_.problems.push_back(what + " at " + url + ": signature refused: " + why +
                                 (header.empty() ? "" : " (X-Lumora-Signature: " + header + ")"));
      return false;
    }
    if (!rt::ParseJson(response.body, document) || !rt::IsNonEmptyObject(document)) {
      report_.problems.push_back(what + " at " + url + " is not a JSON object");
      return false;
    }
    report_.ok.push_back(what + ": signed as " + trust::RoleName(role) + ", " +
                         std::to_string(response.size) + " bytes (" + url + ")");
    return true;
  }

  // A configuration reply for launchers of version `v`: signed as the kind
  // its code says, within its validity. False when it cannot be judged further.
  bool Reply(const std::string& base, int32_t v, const std::string& what, Json::Value& reply) {
    const std::string url = ReplyAddress(base, v);
    DocumentRole role = DocumentRole::ConfigReply;
    Response response;
    if (!Signed(url, {DocumentRole::ConfigReply, DocumentRole::LauncherUpdate}, what, reply, role,
                response))
      return false;
    const int32_t code = rt::IntMember(reply, "code", 0);
    if (!trust::ReplyKindFits(code, role)) {
      report_.problems.push_back(what + " at " + url + " says code " + std::to_string(code) +
                                 " but is signed as " + trust::RoleName(role) +
                                 ": launchers with a key refuse it");
      return false;
    }
    Validity(what, reply);
    return true;
  }

  // The reply's signed validity against the check's clock and what launchers
  // have verified before.
  void Validity(const std::string& what, const Json::Value& reply) {
    trust::Validity validity;
    switch (trust::ReadValidity(reply, validity)) {
      case trust::ValidityRead::Ok:
        break;
      case trust::ValidityRead::Missing:
        report_.problems.push_back(what + " carries no validity (\"issued\", \"expires\"): launchers "
                                   "with a key refuse it; write it with lumora_publish release");
        return;
      case trust::ValidityRead::Malformed:
        report_.problems.push_back(what + " has an \"issued\" or \"expires\" that launchers cannot read "
                                   "(positive whole seconds, issued before expires)");
        return;
      case trust::ValidityRead::TooLong:
        report_.problems.push_back(what + " is valid for longer than " +
                                   std::to_string(trust::kMaxValiditySeconds / 86400) +
                                   " days: launchers with a key refuse it");
        return;
    }
    const int64_t now = options_.now;
    const std::string expires = trust::UtcText(validity.expires);
    const trust::FreshnessJudgement fresh =
        trust::JudgeFreshness(validity, now, options_.seen.issued);
    if (fresh.verdict == trust::Freshness::ExpiredBySeen) {
      report_.problems.push_back(what + " expired at " + expires + ", before a reply that launchers "
                                 "have verified was issued (" + trust::UtcText(options_.seen.issued) +
                                 "): they refuse it as old");
      return;
    }
    if (fresh.verdict == trust::Freshness::ExpiredByClock) {
      report_.problems.push_back(what + " expired at " + expires + ": launchers with a key refuse it; "
                                 "run lumora_publish refresh and deploy its site");
      return;
    }
    if (now >= validity.expires) {
      report_.problems.push_back(what + " expired at " + expires + ": launchers with a key refuse it "
                                 "from " + trust::UtcText(validity.expires + trust::kClockAllowanceSeconds) +
                                 " (sooner where their clock is ahead); run lumora_publish refresh and "
                                 "deploy its site");
      return;
    }
    if (fresh.clockBehind)
      report_.warnings.push_back(what + " is issued at " + trust::UtcText(validity.issued) +
                                 ", ahead of this machine's clock (" + trust::UtcText(now) +
                                 "): is the signing machine's clock right?");
    if (validity.expires - now < options_.expiryMargin)
      report_.warnings.push_back(what + " expires at " + expires + ", in " +
                                 Hours(validity.expires - now) +
                                 ": run lumora_publish refresh and deploy its site before then");
    else
      report_.ok.push_back(what + " is valid until " + expires);
    newest_.issued = trust::NewestIssued(newest_.issued, validity);
  }

  // A package entry (or a launcher-update reply) and the package it names;
  // false when anything is wrong.
  bool Package(const Json::Value& entry, const std::string& what) {
    const int32_t version = rt::IntMember(entry, "version", 0);
    const std::string url = rt::StringMember(entry, "url");
    trust::DataTerms terms;
    const trust::TermsRead read = trust::ReadDataTerms(entry, terms);
    bool good = true;
    if (url.empty()) report_.problems.push_back(what + ": no \"url\""), good = false;
    if (read == trust::TermsRead::Missing)
      report_.problems.push_back(what + ": no \"sha256\" and \"size\" (launchers with a key refuse it)"),
          good = false;
    if (read == trust::TermsRead::Malformed)
      report_.problems.push_back(what + ": \"version\", \"sha256\" or \"size\" is missing or not in its "
                                 "form (a version, 64 hex digits, a whole number of bytes)"),
          good = false;
    if (url.empty()) return false;
    Response response;
    if (!Get(url, what + " " + std::to_string(version), response)) return false;
    if (response.contentLength < 0) {
      report_.problems.push_back(what + " at " + url + " comes without a Content-Length (a cut "
                                 "transfer could not be told from a whole one)");
      good = false;
    }
    if (read == trust::TermsRead::Ok && response.size != terms.size) {
      report_.problems.push_back(what + " at " + url + " has " + std::to_string(response.size) +
                                 " bytes, the signed size is " + std::to_string(terms.size));
      good = false;
    }
    const std::string digest = trust::DigestText(terms.digest);
    if (read == trust::TermsRead::Ok && response.sha256 != digest) {
      report_.problems.push_back(what + " at " + url + " has SHA-256 " + response.sha256 +
                                 ", the signed digest is " + digest);
      good = false;
    }
    if (good)
      report_.ok.push_back(what + " " + std::to_string(version) + ": " + std::to_string(response.size) +
                           " bytes, SHA-256 as signed (" + url + ")");
    return good;
  }

  // The launcher-update reply served to launchers of version `servedTo` and
  // its package; the version it offers (0 when unusable).
  int32_t LauncherUpdate(const Json::Value& reply, int32_t servedTo) {
    const int32_t type = rt::IntMember(reply, "type", 0);
    const int32_t version = rt::IntMember(reply, "version", 0);
    if (type != 1 && type != 2)
      report_.problems.push_back("the launcher update has \"type\" " + std::to_string(type) +
                                 " (1 or 2; launchers refuse it)");
    if (!trust::LauncherUpdateIsNewer(version, servedTo)) {
      report_.problems.push_back("the launcher update served to v=" + std::to_string(servedTo) +
                                 " offers version " + std::to_string(version) +
                                 ", which is not newer: launchers with a key refuse it and end "
                                 "every start (the update failed); give the launcher a higher "
                                 "build number");
      return 0;
    }
    Package(reply, "the launcher package");
    return version;
  }

  void Configuration(const Json::Value& reply) {
    if (rt::IntMember(reply, "code", 0) != 1) {
      report_.problems.push_back("the configuration reply is not a configuration step (code 1)");
      return;
    }
    const int32_t version = rt::IntMember(reply, "version", 0);
    const std::string url = rt::StringMember(reply, "url");
    if (version == 0 || url.empty()) {
      report_.problems.push_back("the configuration reply lacks \"version\" or \"url\"");
      return;
    }
    if (!trust::ConfigVersionAllowed(version, options_.seen.configVersion))
      report_.problems.push_back(
          "the configuration reply names version " + std::to_string(version) + ", older than " +
          std::to_string(options_.seen.configVersion) + ", which launchers have verified: they refuse "
          "it (old content comes back with lumora_publish rollback, under a newer version)");
    trust::DataTerms terms;
    const trust::TermsRead read = trust::ReadDataTerms(reply, terms);
    if (read != trust::TermsRead::Ok)
      report_.problems.push_back(std::string("the configuration reply ") +
                                 (read == trust::TermsRead::Missing
                                      ? "names no \"sha256\" and \"size\" of its data"
                                      : "has a \"sha256\" or \"size\" not in its form") +
                                 ": launchers with a key refuse it");
    if (reply.isMember("data")) {
      const Json::Value& calls = reply["data"];
      report_.ok.push_back("the configuration reply carries " +
                           std::to_string(calls.isArray() ? calls.size() : 0) + " operation call(s)");
    }
    Json::Value data;
    DocumentRole role = DocumentRole::ConfigData;
    Response response;
    if (!Signed(url, {DocumentRole::ConfigData}, "the configuration data " + std::to_string(version),
                data, role, response))
      return;
    if (read == trust::TermsRead::Ok) {
      trust::Digest digest{};
      const int32_t dataVersion = rt::IntMember(data, "version", 0);
      const trust::Binding binding =
          trust::ParseDigest(response.sha256, digest)
              ? trust::CheckBinding(terms, response.size, digest, dataVersion)
              : trust::Binding::DigestDiffers;
      if (binding == trust::Binding::Bound)
        report_.ok.push_back("the configuration data is the one the reply names (" +
                             TermsText(dataVersion, response.size, response.sha256) + ")");
      else
        report_.problems.push_back(
            "the configuration data at " + url + " is not the data the reply names (" +
            BindingName(binding) + "): the reply names " +
            TermsText(terms.version, terms.size, trust::DigestText(terms.digest)) + ", the data is " +
            TermsText(dataVersion, response.size, response.sha256) +
            "; launchers with a key refuse it: deploy the release's site whole");
    }
    if (data.isMember("platform")) Package(data["platform"], "the platform package");
    if (!data.isMember("info") || !data["info"].isObject()) {
      report_.problems.push_back("the configuration data has no hall (\"info\"): every start fails");
      return;
    }
    Package(data["info"], "the hall package");
    if (version > newest_.configVersion) newest_.configVersion = version;
  }

  void Statistics() {
    std::string base = options_.statisticsEndpoint;
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string url = base + "/plugins/stat/run?v=" + std::to_string(options_.launcherVersion) +
                            "&did=lumora_publish_check&u=" + std::to_string(options_.unionCode) +
                            "&d=0&r=0&cv=0";
    Response response;
    if (!Get(url, "the statistics endpoint", response)) return;
    if (response.body.empty()) {
      report_.ok.push_back("the statistics endpoint answers (an empty reply)");
      return;
    }
    DocumentRole role = DocumentRole::CallAnswer;
    std::string why;
    if (!verify_({DocumentRole::CallAnswer}, response.body, response.Header(kSignatureHeader), role, why)) {
      report_.problems.push_back("the statistics reply at " + url + ": signature refused: " + why);
      return;
    }
    report_.ok.push_back("the statistics endpoint answers with a signed call");
  }

  const CheckOptions& options_;
  const Fetcher& fetch_;
  const Verifier& verify_;
  CheckReport report_;
  trust::TrustState newest_;
};

}  // namespace

CheckReport CheckSite(const CheckOptions& options, const Fetcher& fetch, const Verifier& verify) {
  return Checker(options, fetch, verify).Run();
}

}  // namespace site
