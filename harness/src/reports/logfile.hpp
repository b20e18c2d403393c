// The optional log file of a run (`--logfile PATH`).
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "reports/formatter.hpp"
#include "run/result.hpp"

namespace harness {

class LogFile {
  // An open log file: created (or truncated) on open, closed with the value.
  // Writes are checked like the report's; the first failure is kept.
 public:
  // Creates or truncates `path`, on a descriptor above the standard streams;
  // the message that ends the run when it cannot. A FIFO is written like a
  // file while a process reads it; one that nobody reads is refused at once
  // instead of waiting for a reader that may never come.
  static std::expected<LogFile, std::string> create(const std::string& path);

  LogFile(LogFile&& other) noexcept;
  LogFile& operator=(LogFile&&) = delete;
  LogFile(const LogFile&) = delete;
  ~LogFile();

  void write(std::string_view text);

  // The errno of the first failed write, or 0.
  int error() const { return error_; }

 private:
  explicit LogFile(int fd) : fd_(fd) {}

  int fd_;
  int error_ = 0;
};

// The log line of one result: "<word> <name>", then " <time>" when measured,
// then " (<flaky note>)" for a test that passed after failing a try.
std::string render_log_line(const CompletedTest& test);

// The log line of a listed test: "test <name>".
std::string render_listed_line(const TestDesc& desc);

class LogFormatter : public Formatter {
  // The log file as one more consumer of a run's events: a line per result.
 public:
  explicit LogFormatter(LogFile file) : file_(std::move(file)) {}

  void run_started(const RunStart&) override {}
  void test_started(const TestEvent&) override {}
  void still_running(const TestEvent&) override {}
  void test_result(const ResultEvent& event) override { file_.write(render_log_line(event.test)); }
  void run_finished(const RunEnd&) override {}
  int error() const override { return file_.error(); }

 private:
  LogFile file_;
};

}  // namespace harness
