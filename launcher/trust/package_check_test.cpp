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
    return CheckDownloadedPackage(path, ExpectedPackage(Entry(entryJson)), ComponentRules(required));
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

// A mismatch is refused either way; with keys the package goes, without
// keys it is set aside (the design never deletes a package).
TEST_F(PackageFile, AMismatchIsRefusedAndRemovedWithKeysSetAsideWithout) {
  const std::string other = DigestOf(bytes + "x");
  const std::string aside = SetAsideName(path);
  for (bool keys : {true, false}) {
    ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
    DeleteFileA(aside.c_str());
    PackageCheck check = Check("{\"sha256\":\"" + other + "\"}", keys);
    EXPECT_EQ(check.verdict, PackageVerdict::Refused) << keys;
    EXPECT_FALSE(Exists()) << keys;
    EXPECT_NE(check.logLine.find("期望sha256:" + other), std::string::npos) << check.logLine;
    EXPECT_NE(check.logLine.find("实际sha256:" + DigestOf(bytes)), std::string::npos);
    std::string kept;
    EXPECT_EQ(testing_support::ReadFileBytes(aside, kept), !keys) << keys;
    if (!keys) {
      EXPECT_EQ(kept, bytes);
      EXPECT_NE(check.logLine.find("已另存为'" + aside + "'"), std::string::npos) << check.logLine;
    }
  }
}

TEST_F(PackageFile, AWrongSizeIsRefusedBeforeHashing) {
  PackageCheck check = Check("{\"sha256\":\"" + DigestOf(bytes) + "\",\"size\":200002}", true);
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

// A member out of its form: refused with keys; without keys logged and
// ignored, while a well-formed member beside it still counts.
TEST_F(PackageFile, AMalformedMemberIsRefusedWithKeysAndIgnoredWithout) {
  const std::string shortDigest = DigestOf(bytes).substr(1);
  PackageCheck ignored = Check("{\"sha256\":\"" + shortDigest + "\",\"size\":\"35.2MB\"}", false);
  EXPECT_EQ(ignored.verdict, PackageVerdict::NotChecked);
  EXPECT_TRUE(Exists());
  EXPECT_NE(ignored.note.find("已忽略 sha256 size"), std::string::npos) << ignored.note;
  PackageCheck sizeStill = Check("{\"sha256\":7,\"size\":200002}", false);
  EXPECT_EQ(sizeStill.verdict, PackageVerdict::Refused) << "the well-formed size counts";
  EXPECT_NE(sizeStill.note.find("已忽略 sha256"), std::string::npos) << sizeStill.note;
  EXPECT_FALSE(Exists());
  EXPECT_TRUE(DeleteFileA(SetAsideName(path).c_str())) << "set aside, not deleted";
  ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
  PackageCheck digestStill = Check("{\"sha256\":\"" + DigestOf(bytes) + "\",\"size\":\"big\"}", false);
  EXPECT_EQ(digestStill.verdict, PackageVerdict::Accepted);
  digestStill.hold.Close();
  PackageCheck refused = Check("{\"sha256\":\"" + shortDigest + "\"}", true);
  EXPECT_EQ(refused.verdict, PackageVerdict::Refused);
  EXPECT_TRUE(refused.note.empty());
  EXPECT_FALSE(Exists()) << "removed with keys";
}

// An operator's download call with keys: checked only when it names a
// digest or size, but then as strictly as a component's package.
TEST_F(PackageFile, WithKeysWhatIsGivenIsCheckedStrictlyWithoutRequiringADigest) {
  const auto Check = [&](const std::string& entryJson) {
    return CheckDownloadedPackage(path, ExpectedPackage(Entry(entryJson)), PackageRules::Keys);
  };
  PackageCheck sizeOnly = Check(R"({"size":200003})");
  EXPECT_EQ(sizeOnly.verdict, PackageVerdict::Accepted) << "no sha256 needed";
  sizeOnly.hold.Close();
  PackageCheck malformed = Check(R"({"size":"200003"})");
  EXPECT_EQ(malformed.verdict, PackageVerdict::Refused);
  EXPECT_FALSE(Exists()) << "removed, not set aside";
  EXPECT_EQ(GetFileAttributesA(SetAsideName(path).c_str()), INVALID_FILE_ATTRIBUTES);
}

// What the download service took while writing is compared, not read again:
// the file is not opened here (a file with other bytes behind the written
// record is judged by the record), and the service's hold becomes the check's.
TEST_F(PackageFile, WhatTheServiceTookWhileWritingIsComparedNotRead) {
  const auto Written = [&](const std::string& digestOfWhat, int64_t size) {
    WrittenPackage written;
    written.hold.Set(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    written.size = size;
    EXPECT_TRUE(trust::Sha256Of(digestOfWhat, written.digest));
    return written;
  };
  const std::string entry = "{\"sha256\":\"" + DigestOf(bytes) + "\",\"size\":200003}";
  WrittenPackage same = Written(bytes, 200003);
  ASSERT_TRUE(same.hold);
  PackageCheck accepted =
      CheckDownloadedPackage(path, ExpectedPackage(Entry(entry)), PackageRules::KeysRequireDigest, &same);
  EXPECT_EQ(accepted.verdict, PackageVerdict::Accepted);
  EXPECT_FALSE(same.hold) << "the hold moved into the check";
  EXPECT_TRUE(accepted.hold);
  EXPECT_NE(accepted.logLine.find(DigestOf(bytes)), std::string::npos) << accepted.logLine;
  accepted.hold.Close();

  // Written as other bytes: refused by the record, whatever the file holds now.
  WrittenPackage other = Written(bytes + "x", 200003);
  PackageCheck refused = CheckDownloadedPackage(path, ExpectedPackage(Entry(entry)), PackageRules::KeysRequireDigest, &other);
  EXPECT_EQ(refused.verdict, PackageVerdict::Refused);
  EXPECT_NE(refused.logLine.find("实际sha256:" + DigestOf(bytes + "x")), std::string::npos)
      << refused.logLine;
  EXPECT_FALSE(Exists()) << "the hold was let go before the package was removed";
}

TEST_F(PackageFile, AMissingFileIsRefused) {
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  PackageCheck check = Check("{\"sha256\":\"" + DigestOf(bytes) + "\"}", true);
  EXPECT_EQ(check.verdict, PackageVerdict::Refused);
  EXPECT_NE(check.logLine.find("[错误:2]"), std::string::npos) << check.logLine;
}

}  // namespace
