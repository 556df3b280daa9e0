#include "package_check.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "bcrypt_trust.h"
#include "json_util.h"
#include "test_support.h"

namespace {

Json::Value Entry(const std::string& jsonText) {
  Json::Value value;
  EXPECT_TRUE(rt::ParseJson(jsonText, value)) << jsonText;
  return value;
}

std::string DigestOf(const std::string& bytes) {
  trust::Digest digest{};
  EXPECT_TRUE(trust::Sha256Of(bytes, digest));
  return trust::DigestText(digest);
}

TEST(PackageExpectation, MembersCountOnlyInTheirForm) {
  const std::string digest = DigestOf("pkg");
  PackageExpectation e = ExpectedPackage(Entry(R"({"version":3})"));
  EXPECT_FALSE(e.hasDigest || e.hasSize || e.malformed);
  e = ExpectedPackage(Entry("{\"sha256\":\"" + digest + "\",\"size\":3}"));
  EXPECT_TRUE(e.hasDigest && e.hasSize && !e.malformed);
  EXPECT_EQ(trust::DigestText(e.digest), digest);
  EXPECT_EQ(e.size, 3);
  e = ExpectedPackage(Entry(R"({"size":4294967296})"));  // beyond 32 bits
  EXPECT_TRUE(e.hasSize && !e.malformed);
  EXPECT_EQ(e.size, 4294967296LL);
  for (const char* bad :
       {R"({"sha256":7})", R"({"sha256":"abc"})", R"({"sha256":null})", R"({"size":"3"})",
        R"({"size":-1})", R"({"size":3.5})", R"({"size":true})"}) {
    EXPECT_TRUE(ExpectedPackage(Entry(bad)).malformed) << bad;
  }
  // Not an object at all: nothing expected.
  EXPECT_FALSE(ExpectedPackage(Json::Value("text")).malformed);

  Json::Value call(Json::objectValue);
  CarryPackageExpectation(Entry(R"({"sha256":"X","size":5,"url":"u"})"), call);
  EXPECT_EQ(call["sha256"].asString(), "X");
  EXPECT_EQ(call["size"].asInt(), 5);
  EXPECT_FALSE(call.isMember("url"));
}

class PackageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.Path() + "\\Orlune淺.pkg.exe";
    ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
  }
  bool Exists() const { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  PackageCheck Check(const std::string& entryJson, bool required) {
    return CheckDownloadedPackage(path, ExpectedPackage(Entry(entryJson)), required);
  }
  testing_support::TempDir dir{testing_support::TempName::kChinese};
  std::string path;
  const std::string bytes = std::string(200000, 'p') + "end";
};

TEST_F(PackageFile, AMatchingPackageIsAcceptedAndHeldAgainstChanges) {
  std::string upper = DigestOf(bytes);
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  PackageCheck check = Check("{\"sha256\":\"" + upper + "\",\"size\":200003}", true);
  EXPECT_EQ(check.verdict, PackageVerdict::Accepted);
  EXPECT_NE(check.logLine.find("更新包校验通过"), std::string::npos) << check.logLine;
  EXPECT_NE(check.logLine.find(DigestOf(bytes)), std::string::npos) << check.logLine;
  // Held: it can be read (the updater runs it) but not written or removed.
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  std::string again;
  EXPECT_TRUE(testing_support::ReadFileBytes(path, again));
  check.hold.Close();
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(PackageFile, AMismatchRemovesThePackageAndLogsBothDigests) {
  std::string other = DigestOf(bytes + "x");
  PackageCheck check = Check("{\"sha256\":\"" + other + "\"}", false);
  EXPECT_EQ(check.verdict, PackageVerdict::Refused);
  EXPECT_FALSE(Exists());
  EXPECT_NE(check.logLine.find("期望sha256:" + other), std::string::npos) << check.logLine;
  EXPECT_NE(check.logLine.find("实际sha256:" + DigestOf(bytes)), std::string::npos);
}

TEST_F(PackageFile, AWrongSizeIsRefusedBeforeHashing) {
  PackageCheck check = Check("{\"sha256\":\"" + DigestOf(bytes) + "\",\"size\":200002}", false);
  EXPECT_EQ(check.verdict, PackageVerdict::Refused);
  EXPECT_FALSE(Exists());
  EXPECT_NE(check.logLine.find("期望大小:200002 实际大小:200003"), std::string::npos)
      << check.logLine;
}

TEST_F(PackageFile, WhatIsRequiredDependsOnTheBuildsKeys) {
  // No digest: refused with keys, taken as the design has it without.
  PackageCheck taken = Check(R"({"version":5})", false);
  EXPECT_EQ(taken.verdict, PackageVerdict::NotChecked);
  EXPECT_TRUE(taken.logLine.empty());
  EXPECT_TRUE(Exists());
  PackageCheck refused = Check(R"({"version":5,"size":200003})", true);
  EXPECT_EQ(refused.verdict, PackageVerdict::Refused);
  EXPECT_NE(refused.logLine.find("缺少sha256"), std::string::npos) << refused.logLine;
  EXPECT_FALSE(Exists());
}

TEST_F(PackageFile, AMalformedDigestIsRefusedEvenWithoutKeys) {
  PackageCheck check = Check("{\"sha256\":\"" + DigestOf(bytes).substr(1) + "\"}", false);
  EXPECT_EQ(check.verdict, PackageVerdict::Refused);
  EXPECT_FALSE(Exists());
}

TEST_F(PackageFile, AMissingFileIsRefused) {
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  PackageCheck check = Check("{\"sha256\":\"" + DigestOf(bytes) + "\"}", true);
  EXPECT_EQ(check.verdict, PackageVerdict::Refused);
  EXPECT_NE(check.logLine.find("[错误:2]"), std::string::npos) << check.logLine;
}

}  // namespace
