// The default report: one line per test.
#pragma once

#include <string>

#include "reports/formatter.hpp"

namespace harness {

class PrettyFormatter : public ReportFormatter {
  // Writes "test <name> ... <word>" per result. In a serial run the name goes
  // out when the test starts, so that a test that hangs is visible; in a
  // concurrent run the whole line goes out with the result.
 public:
  using ReportFormatter::ReportFormatter;

  void run_started(const RunStart& start) override;
  void test_started(TestId id, const TestDesc& desc) override;
  void still_running(TestId id, const TestDesc& desc) override;
  void test_result(const CompletedTest& test, const ConsoleTestState& state) override;
  void run_finished(const ConsoleTestState& state) override;

 private:
  std::string render_result_word(const CompletedTest& test) const;
  std::string render_time(const CompletedTest& test) const;
};

}  // namespace harness
