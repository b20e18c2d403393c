// The default report: one line per test.
#pragma once

#include <string>

#include "reports/console_report.hpp"
#include "reports/formatter.hpp"

namespace harness {

class PrettyFormatter : public ReportFormatter {
  // Writes "test <name> ... <word>" per result. In a serial run the name goes
  // out when the test starts, so that a test that hangs is visible; in a
  // concurrent run the whole line goes out with the result.
 public:
  using ReportFormatter::ReportFormatter;

  void run_started(const RunStart& start) override;
  void test_started(const TestEvent& event) override;
  void still_running(const TestEvent& event) override;
  void test_result(const ResultEvent& event) override;
  void run_finished(const RunEnd& event) override;

 private:
  std::string render_result_word(const CompletedTest& test) const;
  std::string render_time(const CompletedTest& test) const;

  SummaryLists summary_;
};

}  // namespace harness
