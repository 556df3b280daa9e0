#include "installer_args.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallerArgs, ReadsTheUpdatersCommandLine) {
  // The folder ends with a backslash right before its closing quote.
  const InstallerArgs args = ParseInstallerArgs(
      "/SILENT, /VERYSILENT /DIR=\"C:\\Game Hall\\\" /LOG=\"C:\\Game Hall\\Log\\Install\\a.log\"");
  EXPECT_TRUE(args.silent);
  EXPECT_TRUE(args.verySilent);
  EXPECT_TRUE(args.hasDir);
  EXPECT_EQ(args.dir, "C:\\Game Hall\\");
  EXPECT_EQ(args.log, "C:\\Game Hall\\Log\\Install\\a.log");
  EXPECT_EQ(args.unknown, "");
}

TEST(InstallerArgs, UnquotedValuesCaseAndUnknownSwitches) {
  const InstallerArgs args = ParseInstallerArgs("  /verysilent /dir=D:\\x /NORESTART /LOG=");
  EXPECT_FALSE(args.silent);
  EXPECT_TRUE(args.verySilent);
  EXPECT_EQ(args.dir, "D:\\x");
  EXPECT_EQ(args.log, "");
  EXPECT_EQ(args.unknown, "/NORESTART");

  const InstallerArgs none = ParseInstallerArgs("/SILENT");
  EXPECT_FALSE(none.hasDir);
  // An unclosed quote runs to the end.
  EXPECT_EQ(ParseInstallerArgs("/DIR=\"C:\\a b").dir, "C:\\a b");
}

TEST(InstallerArgs, TailSkipsTheProgramName) {
  EXPECT_EQ(CommandLineTail("\"C:\\a b\\x.pkg.exe\" /SILENT, /DIR=\"c\""), "/SILENT, /DIR=\"c\"");
  EXPECT_EQ(CommandLineTail("x.exe   /SILENT"), "/SILENT");
  EXPECT_EQ(CommandLineTail("x.exe"), "");
}

}  // namespace
