// The run loop: starts the selected tests on workers, receives their results
// and drives the report.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <vector>

#include "console.hpp"
#include "execute.hpp"
#include "formatter.hpp"
#include "logfile.hpp"

#include "zlu-base/src/stack.hpp"

namespace harness {

struct RunConfig {
  // How a run goes, fixed before it starts.
  ExecuteSettings execute;
  bool run_tests = true;  // false: every selected test is reported ignored (`--bench`)
  bool fail_fast = false;
  std::size_t workers = 1;
  std::size_t stack_size = zlu_base::DEFAULT_STACK_SIZE;
  // How long a test may run in a concurrent run before the still-running
  // warning; 60 seconds except in the harness's own tests.
  std::chrono::milliseconds warn_after{std::chrono::seconds(60)};
};

// Runs `tests` in their order, at most `config.workers` at a time, reporting
// through `formatter` (which writes to `out`) and to `log` when given.
// Returns whether every test passed, or the text for standard error that ends
// the run with status 101 (a report that cannot be written, a worker that
// cannot be started).
std::expected<bool, std::string> run_tests(const std::vector<TestDescAndFn>& tests, const RunStart& start,
                                           const RunConfig& config, Formatter& formatter, ConsoleOutput& out,
                                           LogFile* log);

}  // namespace harness
