#include "site_layout.h"

#include <map>
#include <sstream>

#include "json_util.h"
#include "publish_files.h"

namespace site {

namespace {

const char kReplyFile[] = "starterUpdate.json";
const char kLauncherReplyFile[] = "starterUpdate.launcher.json";
const char kJson[] = "application/json";
const char kBinary[] = "application/octet-stream";

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// The first line of "<file>.sig", as the header carries it.
bool SignatureOf(const std::string& file, std::string& signature, std::string& why) {
  if (!ReadWholeFile(file + ".sig", signature)) {
    why = "cannot read " + file + ".sig";
    return false;
  }
  signature = Trimmed(signature.substr(0, signature.find('\n')));
  // It goes into the server's configuration inside double quotes.
  if (signature.empty() || signature.find_first_of("\"\\${}\r") != std::string::npos) {
    why = file + ".sig does not hold a signature header value";
    return false;
  }
  return true;
}

bool AddressOf(const std::string& text, const char* what, Url& url, std::string& why) {
  if (ParseUrl(text, url, why)) return true;
  why = std::string(what) + " '" + text + "': " + why;
  return false;
}

// The directory part of an endpoint base ("" or "/base"), for its paths.
std::string BasePath(const Url& endpoint) {
  std::string path = endpoint.path;
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// A text for nginx inside double quotes (the signature values hold none of
// the characters that would need escaping; checked when read).
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string MapName(const char* what, size_t index) {
  return std::string("$lumora_") + what + "_" + std::to_string(index);
}

}  // namespace

std::string OlderThanPattern(int32_t version) {
  const std::string n = std::to_string(version);
  const size_t k = n.size();
  std::vector<std::string> parts{"-[0-9]+", "0"};
  if (k >= 2) parts.push_back(k == 2 ? "[1-9]" : "[1-9][0-9]{0," + std::to_string(k - 2) + "}");
  for (size_t i = 0; i < k; ++i) {
    const char low = i == 0 ? '1' : '0';
    const char high = static_cast<char>(n[i] - 1);
    if (high < low) continue;
    std::string part = n.substr(0, i);
    part += low == high ? std::string(1, low) : "[" + std::string(1, low) + "-" + std::string(1, high) + "]";
    const size_t rest = k - i - 1;
    if (rest == 1) part += "[0-9]";
    if (rest > 1) part += "[0-9]{" + std::to_string(rest) + "}";
    parts.push_back(part);
  }
  std::string pattern = "^(";
  for (size_t i = 0; i < parts.size(); ++i) pattern += (i ? "|" : "") + parts[i];
  return pattern + ")$";
}

bool PlanRelease(const Json::Value& release, const std::string& folder, const SiteOptions& options,
                 SitePlan& plan, std::string& why) {
  plan = SitePlan();
  const int32_t configVersion = rt::IntMember(release, "configVersion", 0);
  plan.root = options.root.empty() ? "/srv/lumora/release-" + std::to_string(configVersion) : options.root;
  plan.tlsFolder = options.tlsFolder.empty() ? "/etc/lumora/tls" : options.tlsFolder;
  while (plan.root.size() > 1 && plan.root.back() == '/') plan.root.pop_back();
  if (plan.root.empty() || plan.root[0] != '/' || plan.root.find_first_of("\"$;{} ") != std::string::npos) {
    why = "the site's folder on the server must be an absolute path without blanks, quotes, $, ; or braces: " +
          plan.root;
    return false;
  }

  Url configUrl;
  if (!AddressOf(rt::StringMember(release, "configUrl"), "configUrl", configUrl, why)) return false;
  ServedFile config{configUrl, JoinPath(folder, "config.json"), "", kJson};
  if (!SignatureOf(config.source, config.signature, why)) return false;
  plan.files.push_back(config);

  const std::string base = rt::StringMember(release, "packageBase");
  for (const char* part : {"platform", "hall", "launcher"}) {
    if (!release.isMember(part)) continue;
    const Json::Value& entry = release[part];
    const std::string package = rt::StringMember(entry, "package");
    const std::string address = entry.isMember("url") ? rt::StringMember(entry, "url") : base + package;
    ServedFile file{Url(), JoinPath(folder, package), "", kBinary};
    if (!AddressOf(address, part, file.url, why)) return false;
    plan.files.push_back(file);
  }

  ReplyRoute& replies = plan.replies;
  const std::string endpoint =
      options.configEndpoint.empty() ? configUrl.Origin() : options.configEndpoint;
  if (!AddressOf(endpoint, "the configuration endpoint", replies.endpoint, why)) return false;
  replies.upToDate = JoinPath(folder, kReplyFile);
  if (!SignatureOf(replies.upToDate, replies.upToDateSignature, why)) return false;
  if (release.isMember("launcher")) {
    replies.launcherUpdate = true;
    replies.newestLauncher = rt::IntMember(release["launcher"], "version", 0);
    if (replies.newestLauncher <= 0) {
      why = "the launcher update's \"version\" must be a positive integer";
      return false;
    }
    replies.update = JoinPath(folder, kLauncherReplyFile);
    if (!SignatureOf(replies.update, replies.updateSignature, why)) return false;
  }
  if (!options.statisticsEndpoint.empty()) {
    plan.statistics = true;
    if (!AddressOf(options.statisticsEndpoint, "the statistics endpoint", plan.statisticsEndpoint, why))
      return false;
  }

  // One address, one file; one origin, one scheme.
  std::map<std::string, std::string> byAddress;
  std::map<std::string, std::string> schemeOf;
  std::vector<Url> origins{replies.endpoint};
  if (plan.statistics) origins.push_back(plan.statisticsEndpoint);
  for (const ServedFile& file : plan.files) {
    const std::string address = file.url.Origin() + file.url.path;
    auto known = byAddress.find(address);
    if (known != byAddress.end() && known->second != file.source) {
      why = "two files at one address " + address + ": " + known->second + " and " + file.source;
      return false;
    }
    if (file.url.path.back() == '/') {
      why = "a served file's address names a folder: " + address;
      return false;
    }
    if (!file.url.query.empty()) {
      why = "a served file's address has a query: " + address + "?" + file.url.query;
      return false;
    }
    byAddress[address] = file.source;
    origins.push_back(file.url);
  }
  for (const Url& url : origins) {
    const std::string place = url.host + ":" + std::to_string(url.port);
    auto known = schemeOf.find(place);
    if (known != schemeOf.end() && known->second != url.scheme) {
      why = place + " is addressed both with http and https";
      return false;
    }
    schemeOf[place] = url.scheme;
  }
  return true;
}

std::string NginxConfig(const SitePlan& plan) {
  // Each origin's locations, in the order the plan names them.
  std::map<std::string, Url> origins;
  std::map<std::string, std::vector<std::string>> locations;
  std::vector<std::string> order;
  auto origin = [&](const Url& url) -> std::vector<std::string>& {
    const std::string key = url.OriginFolder();
    if (!origins.count(key)) {
      origins[key] = url;
      order.push_back(key);
    }
    return locations[key];
  };
  std::ostringstream maps;

  const ReplyRoute& replies = plan.replies;
  const std::string replyFolder = plan.root + "/replies/" + replies.endpoint.OriginFolder() + "/";
  std::string replyFile = kReplyFile, replySignature = Quoted(replies.upToDateSignature);
  if (replies.launcherUpdate) {
    const std::string older = Quoted("~" + OlderThanPattern(replies.newestLauncher));
    const std::string fileVariable = MapName("reply_file", 0), signatureVariable = MapName("reply_signature", 0);
    maps << "# Launchers older than " << replies.newestLauncher
         << " (their v=) get the launcher update; the others the configuration.\n"
         << "map $arg_v " << fileVariable << " {\n    default " << kReplyFile << ";\n    " << older << " "
         << kLauncherReplyFile << ";\n}\n"
         << "map $arg_v " << signatureVariable << " {\n    default " << Quoted(replies.upToDateSignature)
         << ";\n    " << older << " " << Quoted(replies.updateSignature) << ";\n}\n\n";
    replyFile = fileVariable;
    replySignature = signatureVariable;
  }
  origin(replies.endpoint)
      .push_back("    location = " + BasePath(replies.endpoint) + "/starterUpdate.do {\n" +
                 "        types { }\n        default_type application/json;\n" +
                 "        alias " + replyFolder + replyFile + ";\n" +
                 "        add_header X-Lumora-Signature " + replySignature + " always;\n" +
                 "        add_header Cache-Control \"no-cache\" always;\n    }\n");
  if (plan.statistics) {
    origin(plan.statisticsEndpoint)
        .push_back("    location ^~ " + BasePath(plan.statisticsEndpoint) +
                   "/plugins/ {\n        default_type text/plain;\n        return 200 \"\";\n    }\n");
  }
  for (const ServedFile& file : plan.files) {
    std::string block = "    location = " + file.url.path + " {\n        types { }\n        default_type " +
                        file.contentType + ";\n";
    if (!file.signature.empty()) {
      block += "        add_header X-Lumora-Signature " + Quoted(file.signature) + " always;\n";
      block += "        add_header Cache-Control \"no-cache\" always;\n";
    }
    origin(file.url).push_back(block + "    }\n");
  }

  std::ostringstream out;
  out << "# Generated by lumora_publish release: do not edit; every release writes it anew.\n"
      << "# Include it in nginx's http block (Debian: a link in /etc/nginx/sites-enabled/),\n"
      << "# then: nginx -t && nginx -s reload.\n\n"
      << maps.str();
  for (const std::string& key : order) {
    const Url& url = origins[key];
    out << "server {\n";
    if (url.Https()) {
      out << "    listen " << url.port << " ssl;\n"
          << "    ssl_certificate " << plan.tlsFolder << "/" << url.host << ".crt;\n"
          << "    ssl_certificate_key " << plan.tlsFolder << "/" << url.host << ".key;\n"
          << "    ssl_protocols TLSv1.2 TLSv1.3;\n";
    } else {
      out << "    listen " << url.port << ";\n";
    }
    out << "    server_name " << url.host << ";\n"
        << "    root " << plan.root << "/www/" << key << ";\n"
        << "    # Only what the release publishes.\n"
        << "    location / {\n        return 404;\n    }\n";
    for (const std::string& block : locations[key]) out << block;
    out << "}\n\n";
  }
  return out.str();
}

bool WriteSite(const SitePlan& plan, const std::string& out, std::string& why) {
  auto copy = [&](const std::string& from, const std::string& to) {
    std::string bytes;
    if (!ReadWholeFile(from, bytes)) {
      why = "cannot read " + from;
      return false;
    }
    if (!WriteWholeFile(to, bytes)) {
      why = "cannot write " + to;
      return false;
    }
    return true;
  };
  for (const ServedFile& file : plan.files) {
    if (!copy(file.source, JoinPath(out, "www/" + file.url.OriginFolder() + file.url.path))) return false;
  }
  const std::string replies = JoinPath(out, "replies/" + plan.replies.endpoint.OriginFolder());
  if (!copy(plan.replies.upToDate, JoinPath(replies, kReplyFile))) return false;
  if (plan.replies.launcherUpdate && !copy(plan.replies.update, JoinPath(replies, kLauncherReplyFile)))
    return false;
  if (!WriteWholeFile(JoinPath(out, "nginx.conf"), NginxConfig(plan))) {
    why = "cannot write " + JoinPath(out, "nginx.conf");
    return false;
  }
  return true;
}

}  // namespace site
