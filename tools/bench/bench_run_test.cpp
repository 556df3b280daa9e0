// The benchmarks' runner: a run ends only when everything the program
// started has ended, and a run that did not end as it should says why.
#include "bench_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bench_figures.h"
#include "test_support.h"

namespace {

std::string Helper(const std::string& name) {
  return "\"" + testing_support::ProgramDir() + name + "\"";
}

std::string Child(const std::string& args) { return Helper("bench_child.exe") + " " + args; }

bool Saw(const bench::Run& run, const char* name) {
  for (const bench::Child& child : run.children)
    if (lstrcmpiA(child.name.c_str(), name) == 0) return true;
  return false;
}

TEST(BenchRun, EndsOnlyWhenWhatTheProgramStartedHasEnded) {
  const DWORD begin = GetTickCount();
  const bench::Run run = bench::RunToTheEnd(
      Child("spawn " + Helper("sleeper.exe") + " 700"), testing_support::ProgramDir(), 30000);
  const DWORD took = GetTickCount() - begin;
  ASSERT_TRUE(run.ok) << run.failure;
  EXPECT_LT(run.wallMs, 700) << "the program itself ends at once";
  EXPECT_GE(took, 700u) << "but the run waits for the process it started";
  EXPECT_TRUE(Saw(run, "sleeper.exe"));
  const double toChild = run.MsToChild("SLEEPER.EXE");
  EXPECT_GE(toChild, 0);
  EXPECT_LE(toChild, run.wallMs + 1);
  EXPECT_EQ(run.MsToChild("Orlune.exe"), -1);
}

TEST(BenchRun, AFailedRunSaysWhy) {
  const std::string dir = testing_support::ProgramDir();
  {
    const bench::Run run = bench::RunToTheEnd(Helper("exit_with.exe") + " 3", dir, 30000);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_EQ(run.failure, "exit code 3, expected 0");
    EXPECT_TRUE(bench::RunToTheEnd(Helper("exit_with.exe") + " 3", dir, 30000, 3).ok);
  }
  {
    // Left running past the limit: the run fails, names it and ends it.
    const DWORD begin = GetTickCount();
    const bench::Run run =
        bench::RunToTheEnd(Child("spawn " + Helper("sleeper.exe") + " 60000"), dir, 1500);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.failure.find("still running after 1500 ms: sleeper.exe"), std::string::npos)
        << run.failure;
    EXPECT_LT(GetTickCount() - begin, 10000u);
  }
  {
    // A dialog ends the run at once, with its text, and the program with it.
    const DWORD begin = GetTickCount();
    const bench::Run run = bench::RunToTheEnd(Child("box 启动失败淺"), dir, 60000);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.failure.find("it shows a dialog: "), std::string::npos) << run.failure;
    EXPECT_NE(run.failure.find("启动失败淺"), std::string::npos) << run.failure;
    EXPECT_LT(GetTickCount() - begin, 20000u);
  }
  {
    const bench::Run run = bench::RunToTheEnd(Helper("no_such_program.exe"), dir, 5000);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.failure.rfind("CreateProcess failed", 0), 0u) << run.failure;
  }
}

TEST(BenchRun, CollectsTheProgramsOutput) {
  std::string out;
  const bench::Run run =
      bench::RunToTheEnd(Child("print 输出淺|3584"), testing_support::ProgramDir(), 30000,
                         0, &out);
  ASSERT_TRUE(run.ok) << run.failure;
  EXPECT_EQ(out, "输出淺|3584");
}

TEST(BenchFigures, MediansAreOfRealFiguresOnly) {
  EXPECT_EQ(bench::Median({5, 1, 3}), 3);
  EXPECT_EQ(bench::Median({4, 2}), 4);
  EXPECT_TRUE(std::isnan(bench::Median({})));
  EXPECT_EQ(bench::Least({5, 1, 3}), 1);
  EXPECT_EQ(bench::Most({5, 1, 3}), 5);
  EXPECT_TRUE(std::isnan(bench::Most({})));
}

}  // namespace
