#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using testing_support::StartFailure;
using testing_support::TempDir;
using testing_support::TempName;

namespace {

bool Starts(std::string line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info))
    return false;
  WaitForSingleObject(info.hProcess, 10000);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

// A program that cannot start is explained: the system's error, whether the
// program file is there, and what the Wine server runs meanwhile.
TEST(StartFailure, SaysWhyAProgramDidNotStart) {
  TempDir dir(TempName::kChinese);
  const std::string missing = "\"" + dir.File("none.exe") + "\" 1";
  ASSERT_FALSE(Starts(missing));
  const std::string why = StartFailure(missing);
  EXPECT_TRUE(Has(why, "CreateProcess failed at ")) << why;
  EXPECT_TRUE(Has(why, " with error 2 (")) << why;
  EXPECT_TRUE(Has(why, "program file missing (error 2)")) << why;
  EXPECT_TRUE(Has(why, " processes running: ")) << why;
  EXPECT_TRUE(Has(why, "test_support_test.exe")) << why;

  // A file that is no program: there, readable, and refused.
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("text.exe"), "not a program"));
  const std::string text = dir.File("text.exe");
  ASSERT_FALSE(Starts(text));
  const std::string refused = StartFailure(text);
  EXPECT_TRUE(Has(refused, " with error 193 (")) << refused;
  EXPECT_TRUE(Has(refused, "program file there, 13 bytes")) << refused;

  // The same program starts when it is one.
  EXPECT_TRUE(Starts("\"" + testing_support::ProgramDir() + "exit_with.exe\" 0"));
}
