// The site of a release and the check of a live one, without a network: the
// addresses, the launcher-update pattern against every kind of v=, the laid
// out folder and nginx configuration, and the check over a site of canned
// answers with one fault at a time.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <string>

#include "document_role.h"
#include "freshness.h"
#include "json_util.h"
#include "publish_files.h"
#include "site_check.h"
#include "site_layout.h"
#include "site_url.h"

using namespace site;

namespace {

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[32];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &n, EVP_sha256(), nullptr);
  static const char hex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : digest) text += std::string{hex[b >> 4], hex[b & 15]};
  return text;
}

class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/lumora_site_test_XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

TEST(SiteUrl, AddressesAreTakenApartOrRefused) {
  Url url;
  std::string why;
  ASSERT_TRUE(ParseUrl("HTTPS://Config.Lumora.CN/config-2.json", url, why)) << why;
  EXPECT_EQ(url.Origin(), "https://config.lumora.cn:443");
  EXPECT_EQ(url.path, "/config-2.json");
  ASSERT_TRUE(ParseUrl("http://127.0.0.1:18090", url, why)) << why;
  EXPECT_EQ(url.path, "/");
  EXPECT_EQ(url.OriginFolder(), "127.0.0.1_18090");
  ASSERT_TRUE(ParseUrl("https://[::1]:8443/a/b.exe?x=1", url, why)) << why;
  EXPECT_EQ(url.host, "::1");
  EXPECT_EQ(url.OriginFolder(), "--1_8443");
  EXPECT_EQ(url.query, "x=1");
  for (const char* bad :
       {"config.lumora.cn/x", "ftp://x/y", "https://user@x/y", "https://x:99999/", "https://x/a/../b",
        "https://x/a//b", "https://x/a%20b", "https://x/a b", "https://x/a#f", "https://x/a\"b",
        "https:///x", "https://x:80a/"}) {
    EXPECT_FALSE(ParseUrl(bad, url, why)) << bad;
  }
}

// Every v= that an older launcher can send matches, and nothing else does.
TEST(SiteLayout, TheOlderThanPatternMatchesExactlyTheSmallerNumbers) {
  for (int32_t newest : {1, 2, 9, 10, 11, 19, 20, 90, 100, 101, 109, 110, 999, 1000, 1001, 2014040401,
                         2147483647}) {
    const std::regex older(OlderThanPattern(newest));
    auto check = [&](long long v) {
      EXPECT_EQ(std::regex_match(std::to_string(v), older), v < newest)
          << "newest " << newest << ", v " << v << ": " << OlderThanPattern(newest);
    };
    for (long long v = -12; v <= 1200; ++v) check(v);
    for (long long delta = -1100; delta <= 1100; ++delta) check(static_cast<long long>(newest) + delta);
    for (long long v : {999999999LL, 1000000000LL, 1999999999LL, 2014040400LL, 2014039999LL, 2014041000LL,
                        2099123199LL, 2147483647LL, 21474836470LL, -2147483647LL - 1})
      check(v);
    for (const char* text : {"", "+5", "007", "1.5", "abc", "5 ", "0x10"})
      EXPECT_FALSE(std::regex_match(std::string(text), older)) << "'" << text << "'";
  }
}

namespace {

// A release folder as "lumora_publish release" writes it.
void WriteRelease(const std::string& folder, bool launcher) {
  WriteWholeFile(folder + "/config.json", "{\"info\":1}");
  WriteWholeFile(folder + "/config.json.sig", "k=00112233aabbccdd; s=Y29uZmln\n");
  WriteWholeFile(folder + "/starterUpdate.json", "{\"code\":1}");
  WriteWholeFile(folder + "/starterUpdate.json.sig", "k=00112233aabbccdd; s=cmVwbHk=\n");
  WriteWholeFile(folder + "/Tessel.pkg.exe", "platform bytes");
  WriteWholeFile(folder + "/Orlune.pkg.exe", "hall bytes");
  if (launcher) {
    WriteWholeFile(folder + "/Lumora.pkg.exe", "launcher bytes");
    WriteWholeFile(folder + "/starterUpdate.launcher.json", "{\"code\":2}");
    WriteWholeFile(folder + "/starterUpdate.launcher.json.sig", "k=00112233aabbccdd; s=bGF1bmNo\n");
  }
}

Json::Value Release(bool launcher) {
  Json::Value release;
  rt::ParseJson(R"({"configVersion": 2, "configUrl": "https://config.lumora.cn/config-2.json",
    "packageBase": "https://cdn.lumora.cn:8443/packages/",
    "platform": {"version": 3, "package": "Tessel.pkg.exe"},
    "hall": {"version": 5, "package": "Orlune.pkg.exe", "url": "https://config.lumora.cn/hall/Orlune.pkg.exe"}})",
                release);
  if (launcher) rt::ParseJson(R"({"version": 2026120802, "type": 1, "package": "Lumora.pkg.exe"})",
                              release["launcher"]);
  return release;
}

}  // namespace

TEST(SiteLayout, TheFolderMirrorsTheAddressesAndNginxServesThemWithTheirSignatures) {
  TempFolder temp;
  WriteRelease(temp.Path(), true);
  SitePlan plan;
  std::string why;
  SiteOptions options;
  options.statisticsEndpoint = "https://stats.lumora.cn:9090";
  ASSERT_TRUE(PlanRelease(Release(true), temp.Path(), options, plan, why)) << why;
  EXPECT_EQ(plan.root, "/srv/lumora/release-2");
  ASSERT_TRUE(WriteSite(plan, temp.Path() + "/site", why)) << why;

  std::string bytes;
  const std::string www = temp.Path() + "/site/www/";
  EXPECT_TRUE(ReadWholeFile(www + "config.lumora.cn_443/config-2.json", bytes));
  EXPECT_EQ(bytes, "{\"info\":1}");
  EXPECT_TRUE(ReadWholeFile(www + "config.lumora.cn_443/hall/Orlune.pkg.exe", bytes));
  EXPECT_EQ(bytes, "hall bytes");
  EXPECT_TRUE(ReadWholeFile(www + "cdn.lumora.cn_8443/packages/Tessel.pkg.exe", bytes));
  EXPECT_TRUE(ReadWholeFile(www + "cdn.lumora.cn_8443/packages/Lumora.pkg.exe", bytes));
  // The replies under names of their content.
  const std::string update = "starterUpdate.launcher." + Sha256Hex("{\"code\":2}").substr(0, 12) + ".json";
  const std::string upToDate = "starterUpdate." + Sha256Hex("{\"code\":1}").substr(0, 12) + ".json";
  EXPECT_EQ(plan.replies.updateName, update);
  EXPECT_EQ(plan.replies.upToDateName, upToDate);
  EXPECT_TRUE(ReadWholeFile(temp.Path() + "/site/replies/config.lumora.cn_443/" + update, bytes));
  EXPECT_EQ(bytes, "{\"code\":2}");
  EXPECT_TRUE(ReadWholeFile(temp.Path() + "/site/replies/config.lumora.cn_443/" + upToDate, bytes));
  EXPECT_EQ(bytes, "{\"code\":1}");

  std::string config;
  ASSERT_TRUE(ReadWholeFile(temp.Path() + "/site/nginx.conf", config));
  EXPECT_EQ(config, NginxConfig(plan));
  // Three servers: the configuration host, the package host, the statistics host.
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = config.find(what); at != std::string::npos; at = config.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("server {"), 3u);
  EXPECT_EQ(count("listen 443 ssl;"), 1u);
  EXPECT_EQ(count("listen 8443 ssl;"), 1u);
  EXPECT_EQ(count("listen 9090 ssl;"), 1u);
  EXPECT_NE(config.find("ssl_certificate /etc/lumora/tls/cdn.lumora.cn.crt;"), std::string::npos);
  EXPECT_NE(config.find("root /srv/lumora/release-2/www/config.lumora.cn_443;"), std::string::npos);
  EXPECT_NE(config.find("location = /config-2.json {"), std::string::npos);
  EXPECT_NE(config.find("add_header X-Lumora-Signature \"k=00112233aabbccdd; s=Y29uZmln\" always;"),
            std::string::npos);
  // The launcher update for older launchers, by a map on v=.
  EXPECT_NE(config.find("default " + upToDate + ";\n    \"~" + OlderThanPattern(2026120802) + "\" " + update + ";"),
            std::string::npos);
  EXPECT_NE(config.find("\"~" + OlderThanPattern(2026120802) + "\" \"k=00112233aabbccdd; s=bGF1bmNo\";"),
            std::string::npos);
  EXPECT_NE(config.find("alias /srv/lumora/release-2/replies/config.lumora.cn_443/$lumora_reply_file_0;"),
            std::string::npos);
  EXPECT_NE(config.find("location ^~ /plugins/ {"), std::string::npos);
  // Packages carry no signature header.
  const size_t package = config.find("location = /packages/Tessel.pkg.exe {");
  ASSERT_NE(package, std::string::npos);
  EXPECT_EQ(config.substr(package, config.find('}', package) - package).find("X-Lumora"), std::string::npos);
}

TEST(SiteLayout, WithoutALauncherUpdateEveryLauncherGetsTheConfiguration) {
  TempFolder temp;
  WriteRelease(temp.Path(), false);
  SitePlan plan;
  std::string why;
  SiteOptions options;
  options.root = "/srv/游戏/r2/";
  options.configEndpoint = "https://api.lumora.cn/base";
  ASSERT_TRUE(PlanRelease(Release(false), temp.Path(), options, plan, why)) << why;
  const std::string config = NginxConfig(plan);
  EXPECT_EQ(config.find("map $arg_v"), std::string::npos);
  EXPECT_NE(config.find("location = /base/starterUpdate.do {"), std::string::npos);
  EXPECT_NE(config.find("alias /srv/游戏/r2/replies/api.lumora.cn_443/starterUpdate." +
                        Sha256Hex("{\"code\":1}").substr(0, 12) + ".json;"),
            std::string::npos);
  // A refreshed reply has a name of its own: written beside the one served before.
  WriteWholeFile(temp.Path() + "/starterUpdate.json", "{\"code\":1,\"issued\":2}");
  SitePlan refreshed;
  ASSERT_TRUE(PlanRelease(Release(false), temp.Path(), options, refreshed, why)) << why;
  EXPECT_NE(refreshed.replies.upToDateName, plan.replies.upToDateName);
  EXPECT_EQ(NginxConfig(refreshed).find(plan.replies.upToDateName), std::string::npos);
  EXPECT_NE(config.find("add_header X-Lumora-Signature \"k=00112233aabbccdd; s=cmVwbHk=\" always;"),
            std::string::npos);
}

TEST(SiteLayout, ReleasesThatCannotBeLaidOutAreRefused) {
  TempFolder temp;
  WriteRelease(temp.Path(), false);
  SitePlan plan;
  std::string why;
  Json::Value release = Release(false);
  release["hall"]["url"] = "https://config.lumora.cn/config-2.json";  // the configuration's address
  EXPECT_FALSE(PlanRelease(release, temp.Path(), SiteOptions(), plan, why));
  EXPECT_NE(why.find("two files at one address"), std::string::npos) << why;

  release = Release(false);
  release["hall"]["url"] = "http://config.lumora.cn:443/Orlune.pkg.exe";
  EXPECT_FALSE(PlanRelease(release, temp.Path(), SiteOptions(), plan, why));
  EXPECT_NE(why.find("both with http and https"), std::string::npos) << why;

  release = Release(false);
  release["configUrl"] = "https://config.lumora.cn/../etc/passwd";
  EXPECT_FALSE(PlanRelease(release, temp.Path(), SiteOptions(), plan, why));

  SiteOptions badRoot;
  badRoot.root = "relative/folder";
  EXPECT_FALSE(PlanRelease(Release(false), temp.Path(), badRoot, plan, why));

  WriteWholeFile(temp.Path() + "/config.json.sig", "k=1; s=\"; add_header X 1\n");
  EXPECT_FALSE(PlanRelease(Release(false), temp.Path(), SiteOptions(), plan, why));
  EXPECT_NE(why.find("config.json.sig"), std::string::npos) << why;
}

namespace {

using trust::DocumentRole;

const int64_t kNow = 1780000000;  // the check's clock in these tests
const int64_t kHour = 3600, kDay = 24 * kHour;
const char kOld[] = "https://cfg.lumora.cn/starterUpdate.do?v=1&";
const char kNewest[] = "https://cfg.lumora.cn/starterUpdate.do?v=2026120802&";
const char kTheirs[] = "https://cfg.lumora.cn/starterUpdate.do?v=2014040401&";
const char kData[] = "https://cfg.lumora.cn/config-2.json";

// A live site of canned answers; "good <kind>" is the one valid signature,
// of a document signed as that kind.
class FakeSite {
 public:
  FakeSite() {
    Document(kOld, UpdateReply(2026120802), DocumentRole::LauncherUpdate);
    Document(kNewest, Reply(), DocumentRole::ConfigReply);
    Document(kTheirs, Reply(), DocumentRole::ConfigReply);
    Document(kData, Data(2), DocumentRole::ConfigData);
    Package("https://cdn.lumora.cn/Lumora.pkg.exe", "launcher");
    Package("https://cdn.lumora.cn/Tessel.pkg.exe", "platform");
    Package("https://cdn.lumora.cn/Orlune.pkg.exe", "hall");
  }
  static std::string Data(int version, const std::string& hallUrl = "https://cdn.lumora.cn/Orlune.pkg.exe") {
    return "{\"version\":" + std::to_string(version) +
           R"(,"platform":{"version":3,"url":"https://cdn.lumora.cn/Tessel.pkg.exe","sha256":")" +
           Sha256Hex("platform") + R"(","size":8},"info":{"version":5,"url":")" + hallUrl +
           R"(","sha256":")" + Sha256Hex("hall") + R"(","size":4}})";
  }
  static std::string Validity(int64_t issued = kNow - kDay, int64_t expires = kNow + 6 * kDay) {
    return ",\"issued\":" + std::to_string(issued) + ",\"expires\":" + std::to_string(expires);
  }
  // The configuration reply naming `data` as version `version`.
  static std::string Reply(const std::string& data = Data(2), int version = 2,
                           const std::string& validity = Validity()) {
    return R"({"code":1,"version":)" + std::to_string(version) +
           R"(,"url":"https://cfg.lumora.cn/config-2.json","sha256":")" + Sha256Hex(data) +
           "\",\"size\":" + std::to_string(data.size()) + R"(,"data":["{}"])" + validity + "}";
  }
  static std::string UpdateReply(int32_t version, const std::string& validity = Validity()) {
    return R"({"code":2,"type":1,"version":)" + std::to_string(version) +
           R"(,"url":"https://cdn.lumora.cn/Lumora.pkg.exe","sha256":")" + Sha256Hex("launcher") +
           "\",\"size\":8" + validity + "}";
  }
  // The answer for addresses that start with `prefix`.
  Response& Document(const std::string& prefix, const std::string& body, DocumentRole role) {
    Response& r = answers_[prefix];
    r = Package(prefix, body);
    r.headers["x-lumora-signature"] = std::string("good ") + trust::RoleName(role);
    return r;
  }
  Response& Package(const std::string& url, const std::string& body) {
    Response& r = answers_[url];
    r.ok = true;
    r.status = 200;
    r.body = body;
    r.size = static_cast<long long>(body.size());
    r.contentLength = r.size;
    r.sha256 = Sha256Hex(body);
    return r;
  }
  Response& At(const std::string& prefix) { return answers_.at(prefix); }

  CheckReport Check(CheckOptions options = CheckOptions()) {
    if (options.configEndpoint.empty()) options.configEndpoint = "https://cfg.lumora.cn/";
    if (options.now == 0) options.now = kNow;
    const Fetcher fetch = [&](const std::string& url) {
      fetched_.push_back(url);
      for (const auto& answer : answers_)
        if (url.compare(0, answer.first.size(), answer.first) == 0) return answer.second;
      Response none;
      none.error = "cannot connect";
      return none;
    };
    const Verifier verify = [](const std::vector<DocumentRole>& roles, const std::string&,
                               const std::string& header, DocumentRole& role, std::string& why) {
      if (header.compare(0, 5, "good ") != 0) {
        why = header.empty() ? "no signature" : "the bytes do not fit the signature (altered)";
        return false;
      }
      if (!trust::RoleFromName(header.substr(5), role)) return false;
      for (DocumentRole wanted : roles)
        if (wanted == role) return true;
      why = "signed as another kind (" + header.substr(5) + ")";
      return false;
    };
    return CheckSite(options, fetch, verify);
  }
  std::vector<std::string> fetched_;

 private:
  std::map<std::string, Response> answers_;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

bool Says(const std::vector<std::string>& lines, const std::string& part) {
  return Joined(lines).find(part) != std::string::npos;
}

}  // namespace

TEST(SiteCheck, ASiteAsLaunchersNeedItHasNoProblem) {
  FakeSite site;
  const CheckReport report = site.Check();
  EXPECT_TRUE(report.problems.empty()) << Joined(report.problems);
  const std::string ok = Joined(report.ok);
  EXPECT_NE(ok.find("the launcher package 2026120802: 8 bytes, SHA-256 as signed"), std::string::npos) << ok;
  EXPECT_NE(ok.find("the hall package 5: 4 bytes"), std::string::npos) << ok;
  EXPECT_NE(ok.find("the platform package 3"), std::string::npos) << ok;
  EXPECT_NE(ok.find("launchers of version 2014040401 get the configuration step"), std::string::npos) << ok;
  EXPECT_NE(ok.find("1 operation call(s)"), std::string::npos) << ok;
  EXPECT_NE(ok.find("the configuration reply for an old launcher (v=1): signed as launcher-update"),
            std::string::npos) << ok;
  EXPECT_NE(ok.find("the configuration data is the one the reply names (version 2, "), std::string::npos) << ok;
  EXPECT_NE(ok.find("is valid until " + trust::UtcText(kNow + 6 * kDay)), std::string::npos) << ok;
  EXPECT_TRUE(report.warnings.empty()) << Joined(report.warnings);
  // What a launcher keeps after it: the version and the newest issue time.
  EXPECT_EQ(report.newest.configVersion, 2);
  EXPECT_EQ(report.newest.issued, kNow - kDay);
}

TEST(SiteCheck, RepliesAreJudgedByTheirSignedValidity) {
  struct Case {
    std::string validity;
    const char* problem;  // nullptr: none
    const char* warning;  // nullptr: none
  } cases[] = {
      // Long expired: every launcher with a right clock refuses it now.
      {FakeSite::Validity(kNow - 9 * kDay, kNow - 2 * kDay), "expired at", nullptr},
      // Expired an hour ago: refused from a day after (sooner by clocks ahead).
      {FakeSite::Validity(kNow - 7 * kDay, kNow - kHour),
       "(sooner where their clock is ahead)", nullptr},
      {FakeSite::Validity(kNow - 6 * kDay, kNow + 30 * kHour), nullptr, ", in 30 h 0 min: run lumora_publish refresh"},
      {FakeSite::Validity(kNow + 2 * kDay, kNow + 8 * kDay), nullptr, "is the signing machine's clock right?"},
      {"", "carries no validity", nullptr},
      {FakeSite::Validity(kNow, kNow + 40 * kDay), "valid for longer than 31 days", nullptr},
      {FakeSite::Validity(kNow, kNow), "that launchers cannot read", nullptr},
  };
  for (const Case& c : cases) {
    FakeSite site;
    site.Document(kNewest, FakeSite::Reply(FakeSite::Data(2), 2, c.validity), DocumentRole::ConfigReply);
    const CheckReport report = site.Check();
    const std::string text = Joined(report.problems) + Joined(report.warnings);
    if (c.problem) {
      ASSERT_EQ(report.problems.size(), 1u) << c.validity << "\n" << text;
      EXPECT_NE(report.problems[0].find("the configuration reply for the newest launcher (v=2026120802) "),
                std::string::npos) << text;
      EXPECT_NE(report.problems[0].find(c.problem), std::string::npos) << text;
      EXPECT_EQ(report.newest.configVersion, 0) << "nothing kept from a site with a problem";
    } else {
      EXPECT_TRUE(report.problems.empty()) << c.validity << "\n" << text;
    }
    if (c.warning) {
      ASSERT_EQ(report.warnings.size(), 1u) << c.validity << "\n" << text;
      EXPECT_NE(report.warnings[0].find(c.warning), std::string::npos) << text;
    } else {
      EXPECT_TRUE(report.warnings.empty()) << c.validity << "\n" << text;
    }
  }
  // The first expired case names when: the reply's own expiry.
  FakeSite expired;
  expired.Document(kOld, FakeSite::UpdateReply(2026120802, FakeSite::Validity(kNow - 9 * kDay, kNow - 2 * kDay)),
                   DocumentRole::LauncherUpdate);
  EXPECT_TRUE(Says(expired.Check().problems, "the configuration reply for an old launcher (v=1) expired at " +
                                                 trust::UtcText(kNow - 2 * kDay) +
                                                 ": launchers with a key refuse it"));

  // The margin is the operator's: 30 hours left pass a margin of 24.
  FakeSite soon;
  soon.Document(kTheirs, FakeSite::Reply(FakeSite::Data(2), 2, FakeSite::Validity(kNow - kDay, kNow + 30 * kHour)),
                DocumentRole::ConfigReply);
  EXPECT_EQ(soon.Check().warnings.size(), 1u);
  CheckOptions margin;
  margin.expiryMargin = 24 * kHour;
  EXPECT_TRUE(soon.Check(margin).warnings.empty());

  // Launchers that verified a reply issued after this one expired take it for old.
  FakeSite replayed;
  CheckOptions seen;
  seen.seen.issued = kNow - kHour;
  replayed.Document(kNewest, FakeSite::Reply(FakeSite::Data(2), 2, FakeSite::Validity(kNow - 9 * kDay, kNow - 2 * kHour)),
                    DocumentRole::ConfigReply);
  const CheckReport old = replayed.Check(seen);
  EXPECT_TRUE(Says(old.problems, "before a reply that launchers have verified was issued")) << Joined(old.problems);
  EXPECT_EQ(old.newest, seen.seen);
}

TEST(SiteCheck, TheReplyMustNameTheDataServed) {
  // The data of another release, signed as it should be.
  FakeSite other;
  other.Document(kData, FakeSite::Data(3), DocumentRole::ConfigData);
  CheckReport report = other.Check();
  ASSERT_EQ(report.problems.size(), 1u) << Joined(report.problems);
  EXPECT_NE(report.problems[0].find("the configuration data at https://cfg.lumora.cn/config-2.json is not the data "
                                    "the reply names (its SHA-256 differs): the reply names version 2, " +
                                    std::to_string(FakeSite::Data(2).size()) + " bytes, SHA-256 " +
                                    Sha256Hex(FakeSite::Data(2)) + ", the data is version 3, "),
            std::string::npos)
      << report.problems[0];

  // Longer data; data whose own version is not the reply's; a reply naming no data.
  FakeSite longer;
  longer.Document(kData, FakeSite::Data(2) + " ", DocumentRole::ConfigData);
  EXPECT_TRUE(Says(longer.Check().problems, "(its size differs)"));
  FakeSite renamed;
  renamed.Document(kNewest, FakeSite::Reply(FakeSite::Data(2), 3), DocumentRole::ConfigReply);
  EXPECT_TRUE(Says(renamed.Check().problems, "(its own version differs)"));
  FakeSite unbound;
  unbound.Document(kNewest, R"({"code":1,"version":2,"url":"https://cfg.lumora.cn/config-2.json")" +
                                FakeSite::Validity() + "}",
                   DocumentRole::ConfigReply);
  report = unbound.Check();
  EXPECT_TRUE(Says(report.problems, "the configuration reply names no \"sha256\" and \"size\" of its data"))
      << Joined(report.problems);
}

TEST(SiteCheck, KindsVersionsAndAddressesAsLaunchersWithAKeyJudgeThem) {
  // The launcher update signed as a configuration reply.
  FakeSite swapped;
  swapped.Document(kOld, FakeSite::UpdateReply(2026120802), DocumentRole::ConfigReply);
  CheckReport report = swapped.Check();
  ASSERT_EQ(report.problems.size(), 1u) << Joined(report.problems);
  EXPECT_NE(report.problems[0].find("(v=1) at " + std::string(kOld) + "did="), std::string::npos);
  EXPECT_NE(report.problems[0].find("says code 2 but is signed as config-reply"), std::string::npos)
      << report.problems[0];
  // The data signed as a reply.
  FakeSite data;
  data.Document(kData, FakeSite::Data(2), DocumentRole::ConfigReply);
  EXPECT_TRUE(Says(data.Check().problems, "signature refused: signed as another kind (config-reply)"));

  // Launchers newer than the update they are served.
  FakeSite ahead;
  ahead.Document("https://cfg.lumora.cn/starterUpdate.do?v=2026121001&", FakeSite::UpdateReply(2026120802),
                 DocumentRole::LauncherUpdate);
  CheckOptions theirs;
  theirs.launcherVersion = 2026121001;
  report = ahead.Check(theirs);
  ASSERT_EQ(report.problems.size(), 1u) << Joined(report.problems);
  EXPECT_NE(report.problems[0].find("the launcher update served to v=2026121001 offers version 2026120802, "
                                    "which is not newer"),
            std::string::npos)
      << report.problems[0];
  FakeSite same;
  same.Document(kOld, FakeSite::UpdateReply(1), DocumentRole::LauncherUpdate);
  EXPECT_TRUE(Says(same.Check().problems, "the launcher update served to v=1 offers version 1, which is not newer"));

  // A configuration older than one launchers have verified.
  FakeSite older;
  CheckOptions seen;
  seen.seen.configVersion = 5;
  report = older.Check(seen);
  ASSERT_EQ(report.problems.size(), 1u) << Joined(report.problems);
  EXPECT_NE(report.problems[0].find("names version 2, older than 5, which launchers have verified"),
            std::string::npos);
  EXPECT_EQ(report.newest, seen.seen);
  seen.seen.configVersion = 2;
  EXPECT_TRUE(older.Check(seen).problems.empty());

  // A package address of the data that is not https.
  FakeSite plain;
  const std::string http = FakeSite::Data(2, "http://cdn.lumora.cn/Orlune.pkg.exe");
  plain.Document(kData, http, DocumentRole::ConfigData);
  plain.Document(kNewest, FakeSite::Reply(http), DocumentRole::ConfigReply);
  plain.Document(kTheirs, FakeSite::Reply(http), DocumentRole::ConfigReply);
  report = plain.Check();
  ASSERT_EQ(report.problems.size(), 1u) << Joined(report.problems);
  EXPECT_NE(report.problems[0].find("the hall package 5 at http://cdn.lumora.cn/Orlune.pkg.exe is not https"),
            std::string::npos)
      << report.problems[0];
}

TEST(SiteCheck, EveryProblemIsNamedWithItsAddress) {
  FakeSite site;
  // A stale header on the configuration data, a package cut short and one
  // replaced, and a package served without Content-Length.
  site.At("https://cfg.lumora.cn/config-2.json").headers["x-lumora-signature"] = "stale";
  Response& platform = site.At("https://cdn.lumora.cn/Tessel.pkg.exe");
  platform.size = 5;
  site.Package("https://cdn.lumora.cn/Lumora.pkg.exe", "LAUNCHER").contentLength = -1;
  const CheckReport report = site.Check();
  const std::string problems = Joined(report.problems);
  // The data refused: its packages are not looked at; the launcher's are.
  EXPECT_EQ(report.problems.size(), 3u) << problems;
  EXPECT_EQ(problems.find("Tessel"), std::string::npos) << problems;
  EXPECT_NE(problems.find("the launcher package at https://cdn.lumora.cn/Lumora.pkg.exe has SHA-256"),
            std::string::npos)
      << problems;

  FakeSite second;
  second.At("https://cdn.lumora.cn/Tessel.pkg.exe").size = 5;
  second.Package("https://cdn.lumora.cn/Orlune.pkg.exe", "HALL");
  second.Package("https://cdn.lumora.cn/Lumora.pkg.exe", "launcher").contentLength = -1;
  const CheckReport many = second.Check();
  const std::string text = Joined(many.problems);
  ASSERT_EQ(many.problems.size(), 3u) << text;
  EXPECT_NE(text.find("the platform package at https://cdn.lumora.cn/Tessel.pkg.exe has 5 bytes, the signed "
                      "size is 8"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("the hall package at https://cdn.lumora.cn/Orlune.pkg.exe has SHA-256 " +
                      Sha256Hex("HALL") + ", the signed digest is " + Sha256Hex("hall")),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Lumora.pkg.exe comes without a Content-Length"), std::string::npos) << text;

  EXPECT_NE(problems.find("the configuration data 2 at https://cfg.lumora.cn/config-2.json: signature "
                          "refused: the bytes do not fit the signature (altered) (X-Lumora-Signature: stale)"),
            std::string::npos)
      << problems;
}

TEST(SiteCheck, TheNewestLauncherMustNotBeToldToUpdateAgain) {
  FakeSite site;
  site.Document(kNewest, FakeSite::UpdateReply(2026120802), DocumentRole::LauncherUpdate);
  const CheckReport report = site.Check();
  ASSERT_EQ(report.problems.size(), 1u) << Joined(report.problems);
  EXPECT_NE(report.problems[0].find("again and again"), std::string::npos) << report.problems[0];
}

TEST(SiteCheck, UnreachableUnsignedOrPlainHttpSitesAreProblems) {
  FakeSite site;
  CheckOptions options;
  options.configEndpoint = "https://elsewhere.lumora.cn";
  CheckReport report = site.Check(options);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].find("https://elsewhere.lumora.cn/starterUpdate.do?v=1&did="), std::string::npos);
  EXPECT_NE(report.problems[0].find("cannot connect"), std::string::npos);

  site.At("https://cfg.lumora.cn/starterUpdate.do?v=1&").headers.clear();
  report = site.Check();
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].find("signature refused: no signature"), std::string::npos) << report.problems[0];

  options.configEndpoint = "http://cfg.lumora.cn";
  const size_t fetched = site.fetched_.size();
  report = site.Check(options);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].find("is not https"), std::string::npos);
  EXPECT_EQ(site.fetched_.size(), fetched) << "an http address is not even asked";

  site.At("https://cfg.lumora.cn/starterUpdate.do?v=1&").status = 404;
  report = site.Check();
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].find("answers HTTP 404"), std::string::npos);
}

TEST(SiteCheck, TheStatisticsEndpointAnswersEmptyOrSigned) {
  FakeSite site;
  site.Package("https://stats.lumora.cn/plugins/stat/run?", "");
  CheckOptions options;
  options.statisticsEndpoint = "https://stats.lumora.cn";
  EXPECT_TRUE(site.Check(options).problems.empty());
  site.Package("https://stats.lumora.cn/plugins/stat/run?", "{\"op\":\"Quit\"}");
  const CheckReport report = site.Check(options);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].find("the statistics reply"), std::string::npos);
}
