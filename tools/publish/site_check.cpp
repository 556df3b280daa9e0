#include "site_check.h"

#include <json/json.h>

#include <cctype>

#include "json_util.h"

namespace site {

namespace {

const char kSignatureHeader[] = "x-lumora-signature";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsHex64(const std::string& text) {
  if (text.size() != 64) return false;
  for (unsigned char c : text)
    if (!std::isxdigit(c)) return false;
  return true;
}

class Checker {
 public:
  Checker(const CheckOptions& options, const Fetcher& fetch, const Verifier& verify)
      : options_(options), fetch_(fetch), verify_(verify) {}

  CheckReport Run() {
    std::string base = options_.configEndpoint;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (base.empty()) {
      report_.problems.push_back("no configuration endpoint given");
      return report_;
    }

    // An old launcher: the launcher update, when the site publishes one.
    Json::Value reply;
    int32_t newest = 0;
    if (!Signed(ReplyAddress(base, 1), DocumentKind::kConfigReply,
                "the configuration reply for an old launcher (v=1)", reply))
      return report_;
    Json::Value current = reply;
    if (rt::IntMember(reply, "code", 0) == 2) {
      newest = LauncherUpdate(reply);
      if (newest != 0) {
        Json::Value again;
        const std::string what =
            "the configuration reply for the newest launcher (v=" + std::to_string(newest) + ")";
        if (!Signed(ReplyAddress(base, newest), DocumentKind::kConfigReply, what, again)) return report_;
        if (rt::IntMember(again, "code", 0) != 1) {
          report_.problems.push_back(what + " is not a configuration step (code 1): launchers at the "
                                     "newest version would update themselves again and again");
          return report_;
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
      if (Signed(ReplyAddress(base, v), DocumentKind::kConfigReply,
                 "the configuration reply for v=" + std::to_string(v), theirs)) {
        const int32_t code = rt::IntMember(theirs, "code", 0);
        report_.ok.push_back("launchers of version " + std::to_string(v) +
                             (code == 2 ? " are offered the launcher update to " +
                                              std::to_string(rt::IntMember(theirs, "version", 0))
                                        : " get the configuration step"));
      }
    }

    Configuration(current);
    if (!options_.statisticsEndpoint.empty()) Statistics();
    return report_;
  }

 private:
  std::string ReplyAddress(const std::string& base, int32_t v) const {
    return base + "/starterUpdate.do?v=" + std::to_string(v) + "&did=lumora_publish_check&u=" +
           std::to_string(options_.unionCode) + "&d=0&cv=0";
  }

  // Fetches `url`: an answer with status 2xx over https (unless allowed).
  bool Get(const std::string& url, const std::string& what, Response& response) {
    if (Lower(url).compare(0, 8, "https://") != 0 && !options_.allowHttp) {
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

  // A signed JSON object.
  bool Signed(const std::string& url, DocumentKind kind, const std::string& what, Json::Value& document) {
    Response response;
    if (!Get(url, what, response)) return false;
    if (response.size != static_cast<long long>(response.body.size())) {
      report_.problems.push_back(what + " at " + url + " is too large to be a document (" +
                                 std::to_string(response.size) + " bytes)");
      return false;
    }
    const std::string header = response.Header(kSignatureHeader);
    std::string why;
    if (!verify_(kind, response.body, header, why)) {
      report_.problems.push_back(what + " at " + url + ": signature refused: " + why +
                                 (header.empty() ? "" : " (X-Lumora-Signature: " + header + ")"));
      return false;
    }
    if (!rt::ParseJson(response.body, document) || !rt::IsNonEmptyObject(document)) {
      report_.problems.push_back(what + " at " + url + " is not a JSON object");
      return false;
    }
    report_.ok.push_back(what + ": signed, " + std::to_string(response.size) + " bytes (" + url + ")");
    return true;
  }

  // A package entry and the package it names; false when anything is wrong.
  bool Package(const Json::Value& entry, const std::string& what) {
    const int32_t version = rt::IntMember(entry, "version", 0);
    const std::string url = rt::StringMember(entry, "url");
    const std::string sha256 = Lower(rt::StringMember(entry, "sha256"));
    const bool hasSize = entry.isMember("size") && entry["size"].isIntegral() && entry["size"].asInt64() >= 0;
    bool good = true;
    if (version == 0) report_.problems.push_back(what + ": no \"version\""), good = false;
    if (url.empty()) report_.problems.push_back(what + ": no \"url\""), good = false;
    if (!IsHex64(sha256)) report_.problems.push_back(what + ": no \"sha256\" of 64 hex digits"), good = false;
    if (!hasSize) report_.problems.push_back(what + ": no \"size\""), good = false;
    if (url.empty()) return false;
    Response response;
    if (!Get(url, what + " " + std::to_string(version), response)) return false;
    const long long size = hasSize ? entry["size"].asInt64() : -1;
    if (response.contentLength < 0) {
      report_.problems.push_back(what + " at " + url + " comes without a Content-Length (a cut "
                                 "transfer could not be told from a whole one)");
      good = false;
    }
    if (hasSize && response.size != size) {
      report_.problems.push_back(what + " at " + url + " has " + std::to_string(response.size) +
                                 " bytes, the signed size is " + std::to_string(size));
      good = false;
    }
    if (IsHex64(sha256) && response.sha256 != sha256) {
      report_.problems.push_back(what + " at " + url + " has SHA-256 " + response.sha256 +
                                 ", the signed digest is " + sha256);
      good = false;
    }
    if (good)
      report_.ok.push_back(what + " " + std::to_string(version) + ": " + std::to_string(response.size) +
                           " bytes, SHA-256 as signed (" + url + ")");
    return good;
  }

  // The launcher-update reply and its package; the newest version (0 when unusable).
  int32_t LauncherUpdate(const Json::Value& reply) {
    const int32_t type = rt::IntMember(reply, "type", 0);
    const int32_t version = rt::IntMember(reply, "version", 0);
    if (type != 1 && type != 2)
      report_.problems.push_back("the launcher update has \"type\" " + std::to_string(type) +
                                 " (1 or 2; launchers refuse it)");
    if (version <= 1) {
      report_.problems.push_back("the launcher update has no usable \"version\"");
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
    if (reply.isMember("data")) {
      const Json::Value& calls = reply["data"];
      report_.ok.push_back("the configuration reply carries " +
                           std::to_string(calls.isArray() ? calls.size() : 0) + " operation call(s)");
    }
    Json::Value data;
    if (!Signed(url, DocumentKind::kConfigData, "the configuration data " + std::to_string(version), data))
      return;
    if (data.isMember("platform")) Package(data["platform"], "the platform package");
    if (!data.isMember("info") || !data["info"].isObject()) {
      report_.problems.push_back("the configuration data has no hall (\"info\"): every start fails");
      return;
    }
    Package(data["info"], "the hall package");
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
    std::string why;
    if (!verify_(DocumentKind::kStatisticsReply, response.body, response.Header(kSignatureHeader), why)) {
      report_.problems.push_back("the statistics reply at " + url + ": signature refused: " + why);
      return;
    }
    report_.ok.push_back("the statistics endpoint answers with a signed call");
  }

  const CheckOptions& options_;
  const Fetcher& fetch_;
  const Verifier& verify_;
  CheckReport report_;
};

}  // namespace

CheckReport CheckSite(const CheckOptions& options, const Fetcher& fetch, const Verifier& verify) {
  return Checker(options, fetch, verify).Run();
}

}  // namespace site
