// Running one test body and turning its outcome into a result.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>

#include "cycles/cycle_gate.hpp"
#include "options/report_options.hpp"
#include "run/result.hpp"

namespace harness {

struct ExecuteSettings {
  // What running a body needs from the options.
  bool capture = true;
  std::optional<TestTimeOptions> time_options;  // present when times are measured
  // How many more times a failed test is run (ZLU_TEST_RETRIES).
  std::size_t retries = 0;
  // The run's cycle gate, when it gates on cycles or blesses a baseline.
  CycleGate* cycle_gate = nullptr;
};

// Runs `test`'s body on the calling thread: with its output captured (unless
// capture is off), any exception caught and reported as a failure, the sense
// reversed for tests that must fail, and an ok turned into a time-limit
// failure when ensure-time is on and the body ran at or over its critical
// time. With a cycle gate, a body that passed has its cycle summary judged
// (and kept for blessing), and fails as a cycle regression when over its
// baseline. The thread's forced unwinding (pthread_exit, cancellation) is let
// through, as it must be.
CompletedTest execute_test(TestId id, const TestDescAndFn& test, const ExecuteSettings& settings);
// The same for the try `context` describes, which current_attempt returns
// while the body runs.
CompletedTest execute_test(TestId id, const TestDescAndFn& test, const ExecuteSettings& settings,
                           AttemptContext context);

// Runs `test` as execute_test does, and again after a failed try while
// `settings.retries` allow and the failure is worth another try (see
// worth_retrying), until a try passes. No try starts after a stop was
// requested: an interrupted test is not run again. The tries are kept in
// order, the last one being the result. `before_retry`, when given, is
// called on the calling thread with the tries so far each time a failed try
// is about to be run again.
using RetryObserver = std::function<void(std::span<const Attempt> tries)>;
CompletedTest execute_with_retries(TestId id, const TestDescAndFn& test, const ExecuteSettings& settings,
                                   const RetryObserver& before_retry = {});

// The result of a test that is not run: ignored.
CompletedTest ignored_test(TestId id, const TestDesc& desc);

// A test that ended as `result` in one try without output or measurements.
CompletedTest single_try(TestId id, const TestDesc& desc, TestResult result);

}  // namespace harness
