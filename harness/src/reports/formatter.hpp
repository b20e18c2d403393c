// The report formats behind one event interface.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reports/console.hpp"
#include "options/report_options.hpp"
#include "run/result.hpp"
#include "run/counts.hpp"

namespace harness {

struct RunStart {
  // What the run loop knows when the run starts.
  std::size_t test_count = 0;
  std::size_t filtered_out = 0;
  std::optional<std::uint64_t> shuffle_seed;
  // Names this run among others (a history's key); the reports leave it
  // out, the events file (ZLU_TEST_EVENTS) carries it on every line.
  std::string run_id{};
  WallClock::time_point started_at = WallClock::now();
};

// A fresh run id: 32 lower-case hex digits from the system's random source.
std::string new_run_id();

struct EventStamp {
  // Which run an event belongs to and when, by the wall clock, it happened.
  std::string_view run_id;
  WallClock::time_point at;
};

struct TestEvent {
  // A test started, or has been running for longer than the warning allows.
  EventStamp stamp;
  TestId id;
  const TestDesc& desc;
};

struct ResultEvent {
  // A test's result: its tries as facts, and the run's counts with it
  // counted.
  EventStamp stamp;
  const CompletedTest& test;
  const RunCounts& counts;
};

struct RunEnd {
  // The run finished, or stopped early (fail-fast): the final counts, with
  // the run's time, and each card's verdict when the run watched card health.
  EventStamp stamp;
  const RunCounts& counts;
  int stopping_signal = 0;  // the signal that stopped the run early; 0 when none did
  std::span<const CardVerdict> card_verdicts{};
};

struct FormatterSettings {
  // What a formatter may need of the options, fixed for the run.
  bool concurrent = false;  // more than one worker: results arrive in completion order
  bool show_output = false;
  std::optional<TestTimeOptions> time_options;
  std::string executable_name{};  // the program's file name, for reports that name the suite
};

class Formatter {
  // One listener to a run's events: a report format, the log file, or a
  // fan-out to several. The run loop calls, in this order: run_started once;
  // per test test_started, at most one still_running, test_result (with the
  // counts that include the result), each with the test's id; run_finished
  // once, also after a fail-fast stop. Every event carries the run id and
  // its time. A listener keeps whatever it needs across events itself. The
  // run loop asks for error() after every event and ends the run with the
  // first error, so an event needs no error handling of its own.
 public:
  virtual ~Formatter() = default;
  virtual void run_started(const RunStart& start) = 0;
  virtual void test_started(const TestEvent& event) = 0;
  virtual void still_running(const TestEvent& event) = 0;
  virtual void test_result(const ResultEvent& event) = 0;
  // A try failed and its test runs again: `event.test` holds the tries so
  // far, the last being the one that failed, and the counts do not include
  // the test yet. Comes as soon as the try ends, before the next try
  // starts, for a listener that keeps every try as it happens; the reports
  // show the tries with the test's result instead.
  virtual void try_failed(const ResultEvent& event) { (void)event; }
  virtual void run_finished(const RunEnd& event) = 0;
  // The errno of the first write this formatter could not make, or 0.
  virtual int error() const = 0;
};

class ReportFormatter : public Formatter {
  // A report format: writes to the ConsoleOutput it was made with, whose
  // write errors are its own.
 public:
  ReportFormatter(ConsoleOutput& out, FormatterSettings settings) : out_(out), settings_(std::move(settings)) {}
  int error() const override { return out_.error(); }

 protected:
  ConsoleOutput& out_;
  FormatterSettings settings_;
};

class FanOut : public Formatter {
  // Forwards every event to each of its formatters, in the order they were
  // added; its error is the first of theirs in that order.
 public:
  void add(std::unique_ptr<Formatter> formatter) { formatters_.push_back(std::move(formatter)); }

  void run_started(const RunStart& start) override;
  void test_started(const TestEvent& event) override;
  void still_running(const TestEvent& event) override;
  void test_result(const ResultEvent& event) override;
  void try_failed(const ResultEvent& event) override;
  void run_finished(const RunEnd& event) override;
  int error() const override;

 private:
  std::vector<std::unique_ptr<Formatter>> formatters_;
};

// The report formatter of `format` writing to `out`.
std::expected<std::unique_ptr<Formatter>, std::string> make_formatter(OutputFormat format, ConsoleOutput& out,
                                                                      const FormatterSettings& settings);

}  // namespace harness
