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
  EXPECT_TRUE(ReadWholeFile(temp.Path() + "/site/replies/config.lumora.cn_443/starterUpdate.launcher.json", bytes));
  EXPECT_EQ(bytes, "{\"code\":2}");

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
  EXPECT_NE(config.find("\"~" + OlderThanPattern(2026120802) + "\" starterUpdate.launcher.json;"),
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
  EXPECT_NE(config.find("alias /srv/游戏/r2/replies/api.lumora.cn_443/starterUpdate.json;"), std::string::npos);
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

// A live site of canned answers; "good" is the one valid signature.
class FakeSite {
 public:
  FakeSite() {
    Document("https://cfg.lumora.cn/starterUpdate.do?v=1&", R"({"code":2,"type":1,"version":2026120802,
      "url":"https://cdn.lumora.cn/Lumora.pkg.exe","sha256":")" + Sha256Hex("launcher") + R"(","size":8})");
    Document("https://cfg.lumora.cn/starterUpdate.do?v=2026120802&", Reply());
    Document("https://cfg.lumora.cn/starterUpdate.do?v=2014040401&", Reply());
    Document("https://cfg.lumora.cn/config-2.json",
             R"({"platform":{"version":3,"url":"https://cdn.lumora.cn/Tessel.pkg.exe","sha256":")" +
                 Sha256Hex("platform") + R"(","size":8},
                 "info":{"version":5,"url":"https://cdn.lumora.cn/Orlune.pkg.exe","sha256":")" +
                 Sha256Hex("hall") + R"(","size":4}})");
    Package("https://cdn.lumora.cn/Lumora.pkg.exe", "launcher");
    Package("https://cdn.lumora.cn/Tessel.pkg.exe", "platform");
    Package("https://cdn.lumora.cn/Orlune.pkg.exe", "hall");
  }
  static std::string Reply() {
    return R"({"code":1,"version":2,"url":"https://cfg.lumora.cn/config-2.json","data":["{}"]})";
  }
  // The answer for addresses that start with `prefix`.
  Response& Document(const std::string& prefix, const std::string& body) {
    Response& r = answers_[prefix];
    r = Package(prefix, body);
    r.headers["x-lumora-signature"] = "good";
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
    const Fetcher fetch = [&](const std::string& url) {
      fetched_.push_back(url);
      for (const auto& answer : answers_)
        if (url.compare(0, answer.first.size(), answer.first) == 0) return answer.second;
      Response none;
      none.error = "cannot connect";
      return none;
    };
    const Verifier verify = [](DocumentKind, const std::string&, const std::string& header, std::string& why) {
      why = header.empty() ? "no signature" : "the bytes do not fit the signature (altered)";
      return header == "good";
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
  site.Document("https://cfg.lumora.cn/starterUpdate.do?v=2026120802&",
                R"({"code":2,"type":1,"version":2026120802,"url":"https://cdn.lumora.cn/Lumora.pkg.exe"})");
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
