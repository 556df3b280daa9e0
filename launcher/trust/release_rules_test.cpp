#include "release_rules.h"

#include <gtest/gtest.h>

#include "json_util.h"

namespace trust {
namespace {

Json::Value Parsed(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(rt::ParseJson(text, value)) << text;
  return value;
}

const char kDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(ReleaseRules, VersionsNeverGoBack) {
  const int32_t running = 2014040401;
  EXPECT_TRUE(LauncherUpdateIsNewer(2015010101, running));
  EXPECT_TRUE(LauncherUpdateIsNewer(running + 1, running));
  EXPECT_FALSE(LauncherUpdateIsNewer(running, running)) << "the same launcher again";
  EXPECT_FALSE(LauncherUpdateIsNewer(2014010101, running));
  EXPECT_FALSE(LauncherUpdateIsNewer(-5, running));

  EXPECT_TRUE(ConfigVersionAllowed(1, 0)) << "nothing verified yet";
  EXPECT_TRUE(ConfigVersionAllowed(7, 7)) << "the current one";
  EXPECT_TRUE(ConfigVersionAllowed(8, 7));
  EXPECT_FALSE(ConfigVersionAllowed(6, 7));
  EXPECT_FALSE(ConfigVersionAllowed(-1, 7));
}

TEST(ReleaseRules, EachReplyCodeIsSignedAsItsOwnKind) {
  EXPECT_TRUE(ReplyKindFits(1, DocumentRole::ConfigReply));
  EXPECT_TRUE(ReplyKindFits(2, DocumentRole::LauncherUpdate));
  EXPECT_FALSE(ReplyKindFits(1, DocumentRole::LauncherUpdate)) << "a launcher update as a configuration";
  EXPECT_FALSE(ReplyKindFits(2, DocumentRole::ConfigReply)) << "a configuration reply ordering an update";
  for (DocumentRole other : {DocumentRole::ConfigData, DocumentRole::CallAnswer}) {
    EXPECT_FALSE(ReplyKindFits(1, other));
    EXPECT_FALSE(ReplyKindFits(2, other));
  }
  EXPECT_TRUE(ReplyKindFits(0, DocumentRole::CallAnswer)) << "no step: not the signature's business";
}

TEST(ReleaseRules, OnlyHttpsAddresses) {
  for (const char* good : {"https://localhost:18443/c.json", "HTTPS://Config.Example.com/",
                           "hTTps://x"})
    EXPECT_TRUE(IsHttpsAddress(good)) << good;
  for (const char* bad : {"http://localhost:18090/c.json", "https://", "https:/x", " https://x",
                          "ftp://x", "", "//x", "httpsx://x", "https:\\\\x"})
    EXPECT_FALSE(IsHttpsAddress(bad)) << bad;

  std::string address;
  EXPECT_TRUE(AddressesAreHttps(Parsed(R"({"platform":{"url":"https://a/T.exe"},
                                          "info":{"url":"https://a/O.exe"}})"),
                                address));
  // Parts without an address fetch nothing.
  EXPECT_TRUE(AddressesAreHttps(Parsed(R"({"info":{"version":5},"platform":7})"), address));
  EXPECT_TRUE(AddressesAreHttps(Json::Value(), address));
  EXPECT_TRUE(address.empty());
  EXPECT_FALSE(AddressesAreHttps(Parsed(R"({"platform":{"url":"http://a/T.exe"},
                                           "info":{"url":"https://a/O.exe"}})"),
                                 address));
  EXPECT_EQ(address, "http://a/T.exe");
  EXPECT_FALSE(AddressesAreHttps(Parsed(R"({"info":{"url":"HTTP://a/大厅淺.exe"}})"), address));
  EXPECT_EQ(address, "HTTP://a/大厅淺.exe");
}

TEST(ReleaseRules, TheReplyNamesTheDataItBindsAndEachDifferenceIsRefused) {
  DataTerms terms;
  ASSERT_EQ(ReadDataTerms(Parsed(std::string(R"({"code":1,"version":2,"url":"https://a/c",)") +
                                 "\"sha256\":\"" + kDigest + "\",\"size\":1234}"),
                          terms),
            TermsRead::Ok);
  EXPECT_EQ(terms.version, 2);
  EXPECT_EQ(terms.size, 1234);
  EXPECT_EQ(DigestText(terms.digest), kDigest);

  Digest other = terms.digest;
  other[31] ^= 1;
  EXPECT_EQ(CheckBinding(terms, 1234, terms.digest, 2), Binding::Bound);
  EXPECT_EQ(CheckBinding(terms, 1235, terms.digest, 2), Binding::SizeDiffers);
  EXPECT_EQ(CheckBinding(terms, 1234, other, 2), Binding::DigestDiffers);
  EXPECT_EQ(CheckBinding(terms, 1234, terms.digest, 1), Binding::VersionDiffers);
  EXPECT_EQ(CheckBinding(terms, 1234, terms.digest, 0), Binding::VersionDiffers)
      << "data without a version of its own";

  EXPECT_EQ(ReadDataTerms(Parsed(R"({"code":1,"version":2,"url":"https://a/c"})"), terms),
            TermsRead::Missing);
  const std::string digest = std::string("\"") + kDigest + "\"";
  for (const std::string& bad : {
           "{\"version\":2,\"sha256\":" + digest + "}",                  // no size
           std::string("{\"version\":2,\"size\":5}"),                    // no digest
           "{\"version\":0,\"sha256\":" + digest + ",\"size\":5}",       // no version
           "{\"version\":\"2\",\"sha256\":" + digest + ",\"size\":5}",
           "{\"version\":2,\"sha256\":" + digest + ",\"size\":-1}",
           "{\"version\":2,\"sha256\":" + digest + ",\"size\":5.0}",
           "{\"version\":2,\"sha256\":" + digest + ",\"size\":\"5\"}",
           std::string("{\"version\":2,\"sha256\":\"abc\",\"size\":5}"),
           "{\"version\":2147483648,\"sha256\":" + digest + ",\"size\":5}",
       }) {
    DataTerms kept = terms;
    EXPECT_EQ(ReadDataTerms(Parsed(bad), kept), TermsRead::Malformed) << bad;
    EXPECT_EQ(kept.version, terms.version);
  }
  // Sizes beyond 32 bits are sizes too.
  ASSERT_EQ(ReadDataTerms(Parsed("{\"version\":-3,\"sha256\":" + digest + ",\"size\":5000000000}"),
                          terms),
            TermsRead::Ok);
  EXPECT_EQ(terms.size, 5000000000);
  EXPECT_EQ(terms.version, -3);
}

TEST(ReleaseRules, WhatIsKeptReadsBackAndBadMembersCountAsNothing) {
  const TrustState state{7, 1750000000};
  EXPECT_EQ(ReadTrustState(TrustStateRecord(state)), state);
  EXPECT_EQ(ReadTrustState(Parsed(rt::StyledText(TrustStateRecord(state)))), state);
  EXPECT_EQ(ReadTrustState(Json::Value()), TrustState());
  EXPECT_EQ(ReadTrustState(Parsed("[1,2]")), TrustState());
  EXPECT_EQ(ReadTrustState(Parsed(R"({"configVersion":"7","issued":-4})")), TrustState());
  EXPECT_EQ(ReadTrustState(Parsed(R"({"configVersion":7.5,"issued":4102444800})")),
            (TrustState{0, 4102444800}));
  EXPECT_EQ(ReadTrustState(Parsed(R"({"configVersion":4294967296})")), TrustState());
}

}  // namespace
}  // namespace trust
