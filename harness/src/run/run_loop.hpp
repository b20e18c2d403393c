// The run loop: starts the selected tests on workers, receives their results
// and drives the report.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "run/execute.hpp"
#include "reports/formatter.hpp"

#include "zlu-base/src/stack.hpp"

namespace harness {

class RunClock {
  // The time by which the run loop warns about a test still running. A run
  // uses the steady clock; the harness's own tests move time by hand, so that
  // what a warning is raced against is up to them.
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~RunClock() = default;
  virtual Clock::time_point now() const = 0;
  // The moment on the steady clock until which the loop may wait for a
  // result before it looks at now() again, when the next warning is due at
  // `deadline` on this clock.
  virtual Clock::time_point wake_at(Clock::time_point deadline) const = 0;
};

// The steady clock as a RunClock.
const RunClock& steady_run_clock();

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
  const RunClock* clock = &steady_run_clock();
  // Which cards the run's failures follow (see watch_card_health); none
  // without a card pool that quarantines.
  std::optional<CardHealthWatch> card_health;
};

// Runs `tests` in their order, at most `config.workers` at a time, emitting
// each event once to `formatter` (a fan-out when several listen). Returns
// whether every test passed, or the text for standard error that ends the
// run with status 101 (a formatter that cannot write, a worker that cannot
// be started).
std::expected<bool, std::string> run_tests(const std::vector<TestDescAndFn>& tests, const RunStart& start,
                                           const RunConfig& config, Formatter& formatter);

}  // namespace harness
