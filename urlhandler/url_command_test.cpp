#include "url_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "code_page.h"
#include "json_util.h"
#include "param_envelope.h"

namespace {

Json::Value ParamsOf(const UrlDecision& decision) {
  Json::Value params;
  if (decision.launcherParams.empty()) return params;
  EXPECT_TRUE(rt::ParseJson(decision.launcherParams, params)) << decision.launcherParams;
  return params;
}

// The "Portus" text carried inside the enveloped "SP" member.
std::string PortusValueOf(const Json::Value& params) {
  ParamEnvelope envelope;
  if (!params["SP"].isString() || !envelope.Decode(params["SP"].asString())) return "<no SP>";
  Json::Value inner;
  if (!rt::ParseJson(envelope.Payload(), inner) || inner.size() != 1 || !inner["Portus"].isString())
    return "<bad SP>";
  return inner["Portus"].asString();
}

Json::Value LoginOf(const Json::Value& params) {
  const std::string portus = PortusValueOf(params);
  const std::string prefix = ":Login ";
  Json::Value login;
  if (portus.compare(0, prefix.size(), prefix) != 0) return login;
  EXPECT_TRUE(rt::ParseJson(portus.substr(prefix.size()), login)) << portus;
  return login;
}

UrlDecision Decide(const std::string& text) { return DecideUrlCommand(text); }

// A literal with zero bytes inside, whole.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

}  // namespace

TEST(UrlCommand, OpenWithANumberGivesTheUnionCode) {
  for (const char* text : {"\"lum://open 12345\"", "lum://open 12345", "\"lum://OPEN 12345\"",
                           "\"lum://Open 12345abc\"", "\"lum://open   12345\""}) {
    const UrlDecision d = Decide(text);
    ASSERT_EQ(d.action, UrlAction::kStartLauncher) << text;
    const Json::Value params = ParamsOf(d);
    EXPECT_EQ(params.size(), 1u) << text;
    EXPECT_TRUE(rt::IsInt32(params["UC"])) << text;
    EXPECT_EQ(params["UC"].asInt(), 12345) << text;
  }
  EXPECT_EQ(ParamsOf(Decide("\"x://open -7\""))["UC"].asInt(), -7);
  EXPECT_EQ(ParamsOf(Decide("\"x://open 99999999999\""))["UC"].asInt(), 2147483647)
      << "an oversized number is held to the 32-bit range";
  EXPECT_EQ(ParamsOf(Decide("\"x://open -99999999999\""))["UC"].asInt(), -2147483647 - 1);
}

TEST(UrlCommand, LeadingNumberFollowsTheStandardConversion) {
  EXPECT_EQ(LeadingNumber(" \t+42xyz"), 42);
  EXPECT_EQ(LeadingNumber("-0"), 0);
  EXPECT_EQ(LeadingNumber("{\"u\":5}"), 0);
  EXPECT_EQ(LeadingNumber("- 5"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("2147483647"), 2147483647);
  EXPECT_EQ(LeadingNumber("2147483648"), 2147483647);
  EXPECT_EQ(LeadingNumber("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(LeadingNumber(std::string(5000, '9')), 2147483647);
}

TEST(UrlCommand, TheCharacterAfterOpenChoosesTheForm) {
  // A closing quote right after the verb: the other form, window by scheme.
  UrlDecision d = Decide("\"lum://open\"");
  EXPECT_EQ(d.action, UrlAction::kSendOrStart);
  EXPECT_EQ(d.scheme, "lum");
  EXPECT_EQ(d.url, "lum://open");
  // Unquoted and ending in "open", or with nothing after the blank: the
  // launcher without an argument.
  for (const char* text : {"lum://open", "lum://open ", "lum://oPeN"}) {
    d = Decide(text);
    EXPECT_EQ(d.action, UrlAction::kStartLauncher) << text;
    EXPECT_EQ(d.launcherParams, "") << text;
  }
  // Any other character after the verb, or fewer than four characters.
  for (const char* text : {"\"lum://opened\"", "\"lum://open/5\"", "\"lum://ope\"", "lum://op",
                           "lum://open\t5"}) {
    EXPECT_EQ(Decide(text).action, UrlAction::kSendOrStart) << text;
  }
}

TEST(UrlCommand, NumberZeroOrBraceIsReadAsJson) {
  UrlDecision d = Decide("\"lum://open {\"u\":77,\"a\":\"玩家\",\"p\":\"pw 1\"}\"");
  ASSERT_EQ(d.action, UrlAction::kStartLauncher);
  Json::Value params = ParamsOf(d);
  EXPECT_EQ(params.size(), 2u);
  EXPECT_EQ(params["UC"].asInt(), 77);
  Json::Value login = LoginOf(params);
  EXPECT_EQ(login.size(), 2u);
  EXPECT_EQ(login["a"].asString(), "玩家");
  EXPECT_EQ(login["p"].asString(), "pw 1");
  EXPECT_EQ(PortusValueOf(params), ":Login " + rt::StyledText(login))
      << "the login object travels as its styled text";

  // A payload whose number is 0: JSON, and "0" alone is no object.
  EXPECT_EQ(Decide("lum://open 0").launcherParams, "");
  EXPECT_EQ(Decide("lum://open 0{\"u\":5}").launcherParams, "");
  // A "u" of 0 or below is still a union code.
  params = ParamsOf(Decide("\"lum://open {\"u\":0}\""));
  EXPECT_EQ(params.size(), 1u);
  EXPECT_TRUE(rt::IsInt32(params["UC"]));
  EXPECT_EQ(params["UC"].asInt(), 0);
  EXPECT_EQ(ParamsOf(Decide("lum://open {\"u\":-2147483648}"))["UC"].asInt(), -2147483647 - 1);
  // Comments are allowed; trailing text after the object is ignored.
  params = ParamsOf(Decide("lum://open /*c*/ {\"u\": 5} trailing"));
  EXPECT_EQ(params["UC"].asInt(), 5);
  EXPECT_FALSE(params.isMember("SP"));
}

TEST(UrlCommand, MembersCountOnlyWithTheirJsonType) {
  // "u" as a string or an out-of-range number is ignored; the login still goes.
  Json::Value params = ParamsOf(Decide("lum://open {\"u\":\"5\",\"a\":\"n\",\"p\":\"w\"}"));
  EXPECT_FALSE(params.isMember("UC"));
  EXPECT_EQ(LoginOf(params)["a"].asString(), "n");
  params = ParamsOf(Decide("lum://open {\"u\":4294967295,\"a\":\"n\"}"));
  EXPECT_FALSE(params.isMember("UC"));
  EXPECT_FALSE(LoginOf(params).isMember("p"));

  // "a" that is not a string: "p" is not copied and "SP" is left out.
  params = ParamsOf(Decide("lum://open {\"u\":3,\"a\":1,\"p\":\"x\"}"));
  EXPECT_EQ(params.size(), 1u);
  EXPECT_EQ(params["UC"].asInt(), 3);
  EXPECT_EQ(Decide("lum://open {\"a\":[\"x\"],\"p\":\"x\"}").launcherParams, "");
  // "p" without "a" carries no login; a "p" that is not a string is dropped.
  EXPECT_EQ(Decide("lum://open {\"p\":\"x\"}").launcherParams, "");
  Json::Value emptyName(Json::objectValue);
  emptyName["a"] = "";
  EXPECT_EQ(LoginOf(ParamsOf(Decide("lum://open {\"a\":\"\",\"p\":5}"))), emptyName);

  // Not an object, an empty object, or no JSON at all: no argument.
  for (const char* payload : {"[1,2]", "{}", "\"text\"", "{\"u\":", "abc", "null", "true"}) {
    EXPECT_EQ(Decide(std::string("lum://open ") + payload).launcherParams, "") << payload;
  }
}

TEST(UrlCommand, OtherUrlsGoToTheSchemesWindowOrTheLauncher) {
  UrlDecision d = Decide("\"qzgame://room/5/\"");
  ASSERT_EQ(d.action, UrlAction::kSendOrStart);
  EXPECT_EQ(d.scheme, "qzgame");
  EXPECT_EQ(d.url, "qzgame://room/5") << "one trailing slash is dropped";
  Json::Value params = ParamsOf(d);
  EXPECT_EQ(params.size(), 1u);
  EXPECT_EQ(PortusValueOf(params), "qzgame://room/5");

  EXPECT_EQ(Decide("\"qzgame://room\\\\\"").url, "qzgame://room\\") << "only one is dropped";
  EXPECT_EQ(Decide("\"qzgame://x?a=1&b=\"\"").url, "qzgame://x?a=1&b=\"");
  // No closing quote: the last character goes all the same.
  EXPECT_EQ(Decide("\"qzgame://room/55").url, "qzgame://room/5");
  // Code page 936: 淺 (9C 5C) ends in the backslash byte, which is no
  // trailing backslash; a last character that is Chinese goes whole.
  EXPECT_EQ(Decide("\"qzgame://room/游戏淺\"").url, "qzgame://room/游戏淺");
  EXPECT_EQ(Decide("\"qzgame://room/淺\\\"").url, "qzgame://room/淺");
  EXPECT_EQ(Decide("\"qzgame://room/5游").url, "qzgame://room/5");
  // The shortest text with a separator after position 0.
  d = Decide("\"://");
  EXPECT_EQ(d.scheme, "");
  EXPECT_EQ(d.url, ":");
}

TEST(UrlCommand, NoSeparatorOrSeparatorAtTheStartEndsWithMinusOne) {
  for (const std::string text : {"", "://open 5", "://", "lum:/open 5", "\"lum:open 5\"", "x:/ /"}) {
    const UrlDecision d = Decide(text);
    EXPECT_EQ(d.action, UrlAction::kExit) << text;
    EXPECT_EQ(d.exitCode, -1) << text;
  }
}

TEST(UrlCommand, LauncherCommandLineHasOneFixedShape) {
  EXPECT_EQ(LauncherCommandLine("C:\\Games\\Lumora", ""), "\"C:\\Games\\Lumora\\Lumora.exe\" ");
  EXPECT_EQ(LauncherCommandLine("C:\\", ""), "\"C:\\Lumora.exe\" ");
  EXPECT_EQ(LauncherCommandLine("C:\\G", "abc"), "\"C:\\G\\Lumora.exe\" MD61509934C5H660");
}

// ---------------------------------------------------------------------------
// Hostile command texts: whatever a web page puts into a link, the decision is
// one of the three, and the launcher's command line keeps its shape.

namespace {

std::vector<std::string> HostileCorpus() {
  std::vector<std::string> corpus = {
      "", " ", "\"", "\"\"", ":", "://", "\"://\"", "a://", "\"a://", "a://\"", "://://",
      "\"lum://open", "lum://open \"", "lum://open \"\"", "lum://open\"", "lum://open\"\"",
      "lum://open \x01\x02\x03", Bytes("lum://open \0{\"u\":1}"),
      Bytes("\"lum://\0open 5\""), Bytes("\0://open 1"),
      "lum://open \r\n{\"u\":9}", "\"lum://room\r\n\"", "\"lum://\x7f\x1b[31m\"",
      "lum://open {\"u\":1,\"a\":\"\\\"\\\" \\\\ \\n\",\"p\":\"\\u0000\"}",
      "lum://open {\"a\":\"\\ud800\"}", "lum://open {\"a\":\"\\uZZZZ\"}",
      "lum://open {\"a\":\"x\" \"p\":\"y\"}", "lum://open {\"a\":\"x\",}", "lum://open {,}",
      "lum://open {\"u\":1e400}", "lum://open {\"u\":-1e400,\"a\":\"x\"}", "lum://open {\"u\":1.5}",
      "lum://open {\"u\":-2147483649}", "lum://open {\"u\":null,\"a\":null,\"p\":null}",
      "lum://open {\"a\":{\"a\":\"x\"},\"p\":\"y\"}", "lum://open {\"a\":\"x\",\"a\":\"y\"}",
      "lum://open {\"" + std::string(3000, 'k') + "\":1}",
      "lum://open {\"a\":\"" + std::string(20000, 'A') + "\"}",
      "lum://open {\"a\":\"" + std::string(600, '"') + "\"}",
      "lum://open " + std::string(5000, '['), "lum://open " + std::string(5000, '{'),
      "lum://open {\"a\":" + std::string(3000, '[') + "\"x\"" + std::string(3000, ']') + "}",
      "lum://open /*", "lum://open //", "lum://open /* {\"u\":1} */",
      "lum://open +", "lum://open -", "lum://open 00000000000000000000001",
      "lum://open 0x10", "lum://open 1e5", "lum://open \t\v\f 8",
      "\"" + std::string(40000, 'a') + "://x\"", "\"lum://" + std::string(40000, '/') + "\"",
      "\"lum://" + std::string(30000, 'x') + "\"", "lum://open " + std::string(30000, '7'),
      "\"lum://\xb2\xe2\xca\xd4/\xd3\xce\xcf\xb7\"", "\"\xc1\xfa://open\"",
      "\"\xff\xfe://\xff\xfe\xff\"", "\"lum://open\xa1\xa1\"",
      "\"lum://a b c d e f\"", "\"lum://\" \"\" \"--evil\"", "\"lum://x\" && calc.exe",
      "\"lum://x\" | del *", "\"lum://%22%20%00%0d%0a\"",
      "\"javascript://alert(1)\"", "\"file://C:\\Windows\\\"", "\"lum://..\\..\\Lumora.exe\"",
      "\"lum://\\\\server\\share\\\"", "\"lum://x\\\"", "\"lum://x/\\\"", "\"lum:///\"",
      "\"#32770://x\"", "\"Shell_TrayWnd://x\"", "\"QZ_Lumo_U1://x\"",
      "\"lum://open \"{\"u\":1}", "\"lum://open {\"u\":5,\"a\":\"x\",\"p\":\"y\"}\"",
      "lum://OPEN {\"U\":5,\"A\":\"x\"}", "lum://open\x00 5",
      "lum://open {\"u\":5}{\"u\":6}", "lum://open [{\"u\":5}]",
      "lum://open {\"a\":\"x\",\"p\":\"" + std::string(2000, '\x01') + "\"}",
      "lum://open {\"a\":\"MD12345678ABC\",\"p\":\"\\\"\"}", "lum://open MD61509934C5H660",
      "MD61509934C5H660://open 1", "\"MD61509934C5H660://x\"",
  };
  // Every verb spelling and delimiter around a handful of payloads.
  const char* heads[] = {"lum://open ", "\"lum://open ", "lum://OpEn ", "x://open  "};
  const char* payloads[] = {"1\"", "{\"u\":2,\"a\":\"b\",\"p\":\"c\"}\"", "\"", "{\"a\":", "  ",
                            "-0\"", "{\"u\":\"1\"}", "\x80\x81\x82"};
  for (const char* head : heads)
    for (const char* payload : payloads) corpus.push_back(std::string(head) + payload);
  // Truncations of a full login link at every length.
  const std::string link = "\"lum://open {\"u\":12,\"a\":\"name\",\"p\":\"secret\"}/\"";
  for (size_t n = 0; n <= link.size(); ++n) corpus.push_back(link.substr(0, n));
  return corpus;
}

bool IsEnvelopeBody(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'V'); }

// "\"<folder>\\Lumora.exe\" " followed by nothing or by one envelope.
void ExpectLauncherShape(const std::string& folder, const std::string& line, const std::string& what) {
  const std::string head = "\"" + folder + "\\Lumora.exe\" ";
  ASSERT_EQ(line.compare(0, head.size(), head), 0) << what;
  const std::string argument = line.substr(head.size());
  if (argument.empty()) return;
  ASSERT_GT(argument.size(), 10u) << what;
  EXPECT_EQ(argument.compare(0, 2, "MD"), 0) << what;
  for (size_t i = 2; i < 10; ++i) EXPECT_TRUE(argument[i] >= '0' && argument[i] <= '9') << what;
  size_t bad = 0;
  for (size_t i = 10; i < argument.size(); ++i) bad += IsEnvelopeBody(argument[i]) ? 0 : 1;
  EXPECT_EQ(bad, 0u) << what;
}

}  // namespace

TEST(UrlCommandHostile, EveryTextGivesAWellFormedDecision) {
  const std::vector<std::string> corpus = HostileCorpus();
  ASSERT_GE(corpus.size(), 100u);
  const std::string folder = "C:\\Program Files (x86)\\Lumora";
  size_t exits = 0, starts = 0, sends = 0;
  for (size_t i = 0; i < corpus.size(); ++i) {
    const std::string& text = corpus[i];
    const std::string what = "corpus entry " + std::to_string(i) + ": " + text.substr(0, 80);
    const UrlDecision d = DecideUrlCommand(text);
    const size_t separator = cp936::Find(text, "://");
    if (separator == std::string::npos || separator == 0) {
      EXPECT_EQ(d.action, UrlAction::kExit) << what;
      EXPECT_EQ(d.exitCode, -1) << what;
      ++exits;
      continue;
    }
    ASSERT_NE(d.action, UrlAction::kExit) << what;
    if (d.action == UrlAction::kSendOrStart) {
      ++sends;
      const size_t first = cp936::CharLength(text, 0);
      EXPECT_EQ(d.scheme, text.substr(first, separator - first)) << what;
      EXPECT_FALSE(cp936::EndsInsideChar(d.url)) << what;
      EXPECT_LE(d.url.size(), text.size() - 2) << what;
      EXPECT_EQ(PortusValueOf(ParamsOf(d)), d.url) << what;
    } else {
      ++starts;
    }
    const std::string line = LauncherCommandLine(folder, d.launcherParams);
    ExpectLauncherShape(folder, line, what);

    // What the launcher reads back: an object of "UC" (integer) and "SP"
    // (an envelope of {"Portus": text}), nothing else.
    if (d.launcherParams.empty()) continue;
    ParamEnvelope envelope;
    ASSERT_TRUE(envelope.Decode(line.substr(line.find("\" ") + 2))) << what;
    Json::Value params;
    ASSERT_TRUE(rt::ParseJson(envelope.Payload(), params)) << what;
    ASSERT_TRUE(rt::IsNonEmptyObject(params)) << what;
    for (const std::string& name : params.getMemberNames())
      EXPECT_TRUE(name == "UC" || name == "SP") << what << " member " << name;
    if (params.isMember("UC")) {
      EXPECT_TRUE(rt::IsInt32(params["UC"])) << what;
    }
    if (params.isMember("SP")) {
      const std::string portus = PortusValueOf(params);
      EXPECT_TRUE(portus == d.url || portus.compare(0, 7, ":Login ") == 0) << what;
    }
  }
  // The corpus exercises all three outcomes.
  EXPECT_GT(exits, 5u);
  EXPECT_GT(starts, 30u);
  EXPECT_GT(sends, 30u);
}
