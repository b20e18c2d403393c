// The report formats behind one event interface.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "console.hpp"
#include "options.hpp"
#include "result.hpp"
#include "state.hpp"

namespace harness {

struct RunStart {
  // What the run loop knows when the run starts.
  std::size_t test_count = 0;
  std::size_t filtered_out = 0;
  std::optional<std::uint64_t> shuffle_seed;
};

struct FormatterSettings {
  // What a formatter may need of the options, fixed for the run.
  bool concurrent = false;  // more than one worker: results arrive in completion order
  bool show_output = false;
  std::optional<TestTimeOptions> time_options;
  std::string executable_name{};  // the program's file name, for reports that name the suite
};

class Formatter {
  // One report format. The run loop calls, in this order: run_started once;
  // per test test_started, at most one still_running, test_result (after the
  // state has counted the result); run_finished once, also after a fail-fast
  // stop. A formatter writes only to the ConsoleOutput it was made with; the
  // run loop checks that output for write errors after every event, so an
  // event needs no error handling of its own.
 public:
  virtual ~Formatter() = default;
  virtual void run_started(const RunStart& start) = 0;
  virtual void test_started(const TestDesc& desc) = 0;
  virtual void still_running(const TestDesc& desc) = 0;
  virtual void test_result(const CompletedTest& test, const ConsoleTestState& state) = 0;
  virtual void run_finished(const ConsoleTestState& state) = 0;
};

// The formatter of `format` writing to `out`.
std::expected<std::unique_ptr<Formatter>, std::string> make_formatter(OutputFormat format, ConsoleOutput& out,
                                                                      const FormatterSettings& settings);

}  // namespace harness
