// The compact report: one character per test.
#pragma once

#include <cstddef>

#include "reports/console_report.hpp"
#include "reports/formatter.hpp"

namespace harness {

class TerseFormatter : public ReportFormatter {
  // Writes "." per passed and "i" per ignored test, wrapping after 88
  // characters with the progress " <done>/<total>"; a failed test gets a line
  // "<name> --- FAILED" of its own.
 public:
  using ReportFormatter::ReportFormatter;

  void run_started(const RunStart& start) override;
  void test_started(const TestEvent&) override {}
  void still_running(const TestEvent& event) override;
  void test_result(const ResultEvent& event) override;
  void run_finished(const RunEnd& event) override;

 private:
  void write_character(Color color, std::string_view character);
  void write_progress();

  static constexpr std::size_t line_width = 88;

  std::size_t total_ = 0;
  std::size_t done_ = 0;    // results written so far
  std::size_t column_ = 0;  // characters on the current line
  SummaryLists summary_;
};

}  // namespace harness
