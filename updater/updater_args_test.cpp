#include "updater_args.h"

#include <gtest/gtest.h>

#include "param_envelope.h"

namespace {

const char kConflict[] = "操作冲突(启动参数'SU'或'SI'不能同时使用)";
const char kNoOperation[] = "没有任何操作(请用启动参数'SU'或'SI'指定)";
const char kNoTarget[] = "没有指定目标源文件(请用启动参数'TP'指定)";
const char kNoDestination[] = "没有指定复制文件目的地(请用启动参数'path'指定)";

TEST(UpdaterArgs, TextThatIsNoJsonObjectIsRefusedWithoutALine) {
  for (const char* text : {"", "   ", "{\"SU\":true", "[1,2]", "5", "\"SU\"", "SU=1"}) {
    const ParseOutcome out = ParseUpdaterArgs(text);
    EXPECT_FALSE(out.accepted) << text;
    EXPECT_EQ(out.logLine, "") << text;
  }
}

TEST(UpdaterArgs, ValidationRunsInItsOrder) {
  // null reads as an empty object: nothing to do.
  EXPECT_EQ(ParseUpdaterArgs("null").logLine, kNoOperation);
  // The conflict wins over the missing target and destination.
  EXPECT_EQ(ParseUpdaterArgs(R"({"SU":true,"SI":true})").logLine, kConflict);
  EXPECT_EQ(ParseUpdaterArgs(R"({"SR":true,"open":"Lumora.exe","TP":"a"})").logLine,
            kNoOperation);
  EXPECT_EQ(ParseUpdaterArgs(R"({"SI":true,"path":"x"})").logLine, kNoTarget);
  EXPECT_EQ(ParseUpdaterArgs(R"({"SU":true,"TP":"new.exe"})").logLine, kNoDestination);
  EXPECT_EQ(ParseUpdaterArgs(R"({"SU":true,"TP":"new.exe","path":""})").logLine, kNoDestination);

  const ParseOutcome install = ParseUpdaterArgs(R"({"SI":true,"TP":"Tessel.pkg.exe"})");
  EXPECT_TRUE(install.accepted);
  EXPECT_EQ(install.args.options, kOptInstall | kOptInstallNoLimit);
}

TEST(UpdaterArgs, MembersCountOnlyWithTheirExactType) {
  // A flag written as a number is not taken.
  EXPECT_EQ(ParseUpdaterArgs(R"({"SU":1,"TP":"a","path":"b"})").logLine, kNoOperation);
  // ... but then the long key is consulted.
  EXPECT_TRUE(ParseUpdaterArgs(R"({"SU":1,"SignUpdate":true,"TP":"a","path":"b"})").accepted);
  // A short key of the right type hides the long one, even when false.
  EXPECT_EQ(ParseUpdaterArgs(R"({"SU":false,"SignUpdate":true,"TP":"a","path":"b"})").logLine,
            kNoOperation);

  const ParseOutcome out =
      ParseUpdaterArgs(R"({"SI":true,"TP":7,"TargetPath":"Orlune.pkg.exe","SP":["x"],
                           "StartParams":"-u 5","path":3,"dir":"D:\\Game","open":false})");
  ASSERT_TRUE(out.accepted);
  EXPECT_EQ(out.args.targetPath, "Orlune.pkg.exe");
  EXPECT_EQ(out.args.startParams, "-u 5");
  EXPECT_EQ(out.args.copyPath, "");
  EXPECT_EQ(out.args.directory, "D:\\Game");
  EXPECT_EQ(out.args.open, "");
  EXPECT_EQ(out.args.options & kOptRunAfter, 0u);
}

TEST(UpdaterArgs, LongKeysAndOpenSetTheirOptions) {
  const ParseOutcome out = ParseUpdaterArgs(
      R"({"SignInstall":true,"SignRun":true,"TargetPath":"p.exe","StartParams":" a  b "})");
  ASSERT_TRUE(out.accepted);
  EXPECT_EQ(out.args.options, kOptInstall | kOptRunAfter | kOptInstallNoLimit);
  EXPECT_EQ(out.args.startParams, " a  b ");  // copied unchanged

  const ParseOutcome open = ParseUpdaterArgs(R"({"SU":true,"TP":"a","path":"b","open":"c.exe"})");
  ASSERT_TRUE(open.accepted);
  EXPECT_EQ(open.args.options, kOptCopy | kOptRunAfter | kOptInstallNoLimit);
  EXPECT_EQ(open.args.open, "c.exe");
}

TEST(UpdaterArgs, CodeTogglesOnlyBitsFourToFifteen) {
  auto options = [](const char* code) {
    const ParseOutcome out = ParseUpdaterArgs(std::string(R"({"SI":true,"TP":"p.exe","code":)") +
                                              code + "}");
    EXPECT_TRUE(out.accepted) << code;
    return out.args.options;
  };
  EXPECT_EQ(options("16"), kOptInstall);                                  // no installer limit off
  EXPECT_EQ(options("48"), kOptInstall | kOptWaitRunAfter);               // and wait for the run
  EXPECT_EQ(options("1"), kOptInstall | kOptInstallNoLimit);              // low bits stay
  EXPECT_EQ(options("\"16\""), kOptInstall | kOptInstallNoLimit);         // text is no code
  EXPECT_EQ(options("16.0"), kOptInstall | kOptInstallNoLimit);           // nor a real
  EXPECT_EQ(options("-1"), kOptInstall | (0xFFF0u & ~kOptInstallNoLimit));  // all of 4..15
  // The low bits of "code" cannot select an operation.
  EXPECT_EQ(ParseUpdaterArgs(R"({"TP":"p.exe","code":3})").logLine, kNoOperation);
}

TEST(UpdaterArgs, EnvelopedAndPlainReadTheSame) {
  const std::string plain = R"({"SU":true,"TP":"Download\\新.exe","path":"Lumora.exe","SR":true})";
  const std::string wrapped = ParamEnvelope::Wrap(plain);
  const ParseOutcome a = ParseUpdaterArgs(plain);
  const ParseOutcome b = ParseUpdaterArgs(wrapped);
  ASSERT_TRUE(a.accepted);
  ASSERT_TRUE(b.accepted);
  EXPECT_EQ(b.args.targetPath, "Download\\新.exe");
  EXPECT_EQ(a.args.targetPath, b.args.targetPath);
  EXPECT_EQ(a.args.options, b.args.options);

  // A damaged check number: the text is taken raw and fails as JSON.
  std::string damaged = wrapped;
  damaged[9] = damaged[9] == '9' ? '8' : '9';
  const ParseOutcome c = ParseUpdaterArgs(damaged);
  EXPECT_FALSE(c.accepted);
  EXPECT_EQ(c.logLine, "");
}

TEST(UpdaterArgs, TextsThatDoNotFitTheirBuffersAreRefused) {
  const std::string fits(kArgumentTextLimit, 'a');
  const std::string tooLong(kArgumentTextLimit + 1, 'a');
  EXPECT_TRUE(ParseUpdaterArgs(R"({"SI":true,"TP":")" + fits + "\"}").accepted);

  const ParseOutcome target = ParseUpdaterArgs(R"({"SI":true,"TP":")" + tooLong + "\"}");
  EXPECT_FALSE(target.accepted);
  EXPECT_EQ(target.logLine, "启动参数'TP'过长(1040字节,最多1039字节)");

  const ParseOutcome params =
      ParseUpdaterArgs(R"({"SI":true,"TP":"p.exe","SP":")" + tooLong + "\"}");
  EXPECT_FALSE(params.accepted);
  EXPECT_EQ(params.logLine, "启动参数'SP'过长(1040字节,最多1039字节)");

  // A zero character would cut the path short into a different one.
  const ParseOutcome zero = ParseUpdaterArgs(R"({"SU":true,"TP":"a.exe","path":"Lumora.exe\u0000.bak"})");
  EXPECT_FALSE(zero.accepted);
  EXPECT_EQ(zero.logLine, "启动参数'path'含有空字符");
}

}  // namespace

// A copy may carry the package's signed digest and size; out of form they
// refuse the run (after the design's own checks) rather than copy unchecked.
TEST(UpdaterArgs, ACopyCarriesItsSignedDigestAndSize) {
  const std::string digest(64, 'A');
  const ParseOutcome signedCopy = ParseUpdaterArgs(
      R"({"SU":true,"TP":"a","path":"b","sha256":")" + digest + R"(","size":5000000000})");
  ASSERT_TRUE(signedCopy.accepted) << signedCopy.logLine;
  EXPECT_TRUE(signedCopy.args.hasDigest);
  EXPECT_EQ(signedCopy.args.digest[0], 0xAA);
  EXPECT_EQ(signedCopy.args.size, 5000000000LL);
  const ParseOutcome plain = ParseUpdaterArgs(R"({"SU":true,"TP":"a","path":"b"})");
  ASSERT_TRUE(plain.accepted);
  EXPECT_FALSE(plain.args.hasDigest);
  EXPECT_EQ(plain.args.size, -1);
  for (const char* bad : {R"("sha256":"abc")", R"("sha256":7)", R"("size":-1)", R"("size":"5")"}) {
    const ParseOutcome refused =
        ParseUpdaterArgs(std::string(R"({"SU":true,"TP":"a","path":"b",)") + bad + "}");
    EXPECT_FALSE(refused.accepted) << bad;
    EXPECT_NE(refused.logLine.find("格式错误"), std::string::npos) << bad << refused.logLine;
  }
  EXPECT_EQ(ParseUpdaterArgs(R"({"SU":true,"TP":"a","sha256":"x"})").logLine, kNoDestination)
      << "the design's checks come first";
}
