// The main function of every test program: GoogleTest's, with its printer
// showing each failure's text in UTF-8 (failure_text.h): the programs' text
// is code page 936, the terminals and logs that read the tests' output are
// UTF-8.
#include <gtest/gtest.h>

#include <memory>

#include "failure_text.h"

namespace {

class ReadableFailures : public testing::TestEventListener {
 public:
  explicit ReadableFailures(testing::TestEventListener* printer) : printer_(printer) {}

  void OnTestPartResult(const testing::TestPartResult& result) override {
    const std::string text = testing_support::FailureTextForReaders(result.message());
    printer_->OnTestPartResult(testing::TestPartResult(result.type(), result.file_name(),
                                                       result.line_number(), text.c_str()));
  }

  void OnTestProgramStart(const testing::UnitTest& u) override { printer_->OnTestProgramStart(u); }
  void OnTestIterationStart(const testing::UnitTest& u, int i) override {
    printer_->OnTestIterationStart(u, i);
  }
  void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsSetUpStart(u);
  }
  void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsSetUpEnd(u);
  }
  void OnTestSuiteStart(const testing::TestSuite& s) override { printer_->OnTestSuiteStart(s); }
  void OnTestStart(const testing::TestInfo& t) override { printer_->OnTestStart(t); }
  void OnTestDisabled(const testing::TestInfo& t) override { printer_->OnTestDisabled(t); }
  void OnTestEnd(const testing::TestInfo& t) override { printer_->OnTestEnd(t); }
  void OnTestSuiteEnd(const testing::TestSuite& s) override { printer_->OnTestSuiteEnd(s); }
#ifndef GTEST_REMOVE_LEGACY_TEST_CASEAPI_
  // GoogleTest's own printer still prints a suite's start and end here.
  void OnTestCaseStart(const testing::TestCase& s) override { printer_->OnTestCaseStart(s); }
  void OnTestCaseEnd(const testing::TestCase& s) override { printer_->OnTestCaseEnd(s); }
#endif
  void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsTearDownStart(u);
  }
  void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override {
    printer_->OnEnvironmentsTearDownEnd(u);
  }
  void OnTestIterationEnd(const testing::UnitTest& u, int i) override {
    printer_->OnTestIterationEnd(u, i);
  }
  void OnTestProgramEnd(const testing::UnitTest& u) override { printer_->OnTestProgramEnd(u); }

 private:
  std::unique_ptr<testing::TestEventListener> printer_;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  if (testing::TestEventListener* printer = listeners.default_result_printer()) {
    listeners.Release(printer);
    listeners.Append(new ReadableFailures(printer));
  }
  return RUN_ALL_TESTS();
}
