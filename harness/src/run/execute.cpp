#include "run/execute.hpp"

#include <algorithm>
#include <chrono>
#include <cxxabi.h>
#include <fmt/format.h>

#include "run/capture.hpp"
#include "run/failure.hpp"
#include "run/interrupt.hpp"
#include "run/outcome.hpp"
#include "run/properties.hpp"

namespace harness {
namespace {

// The outcome of a body that returned (`failure` empty) or failed.
TestResult judge(const TestDesc& desc, const std::optional<FailureReport>& failure) {
  switch (desc.should_panic.kind) {
    case ShouldPanicKind::No:
      return failure ? TestResult::failed() : TestResult::ok();
    case ShouldPanicKind::Yes:
      return failure ? TestResult::ok() : TestResult::failed_with_note("test did not fail as expected");
    case ShouldPanicKind::YesWithMessage:
      if (!failure) return TestResult::failed_with_note("test did not fail as expected");
      if (failure->message.find(desc.should_panic.expected) != std::string::npos) return TestResult::ok();
      return TestResult::failed_with_note(
          fmt::format("failure message did not contain the expected text\n  failure message: \"{}\"\n"
                      "    expected text: \"{}\"",
                      failure->message, desc.should_panic.expected));
  }
  return TestResult::failed();
}

std::optional<FailureReport> run_body(const TestDescAndFn& test) {
  try {
    test.testfn();
    return std::nullopt;
  } catch (...) {
    // The thread's forced unwinding (pthread_exit, cancellation) is a foreign
    // exception without a C++ type; it must go on. Testing the type rather
    // than catching abi::__forced_unwind avoids binding a reference to its
    // null object.
    if (abi::__cxa_current_exception_type() == nullptr) throw;
    FailureReport report = describe_failure(std::current_exception(), test.desc);
    report_failure(test.desc.name, report);
    return report;
  }
}

}  // namespace

CompletedTest execute_test(TestId id, const TestDescAndFn& test, const ExecuteSettings& settings,
                           AttemptContext context) {
  CompletedTest completed{id, test.desc};
  Attempt& attempt = completed.last_try();
  std::optional<CaptureScope> capture;
  if (settings.capture) capture.emplace(attempt.stdout_bytes);

  std::optional<AttemptScope> scope(
      std::in_place, AttemptRecord{completed.properties, attempt.measurements, attempt.runner_output},
      std::move(context));
  attempt.started = WallClock::now();
  const auto start = std::chrono::steady_clock::now();
  const std::optional<FailureReport> failure = run_body(test);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  attempt.ended = WallClock::now();
  scope.reset();
  capture.reset();

  attempt.result = judge(test.desc, failure);
  if (failure) attempt.failure_message = failure->message;
  if (settings.time_options) {
    attempt.exec_time = TestExecTime{std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed)};
    const auto limit = settings.time_options->threshold(test.desc.test_type).critical;
    if (settings.time_options->error_on_excess && outcome_of(attempt.result).passed() && reached(elapsed, limit)) {
      attempt.result = TestResult::time_limit_exceeded();
    }
  }
  if (settings.cycle_gate != nullptr && outcome_of(attempt.result).passed()) {
    settings.cycle_gate->keep(test.desc.name, attempt.measurements, attempt.ended);
    if (settings.cycle_gate->judges()) attempt.cycles = settings.cycle_gate->judge(test.desc.name, attempt.measurements);
    if (attempt.cycles && attempt.cycles->verdict == CycleVerdict::Regressed) {
      attempt.result = TestResult::cycle_regression(render_changes(*attempt.cycles));
    }
  }
  return completed;
}

CompletedTest execute_test(TestId id, const TestDescAndFn& test, const ExecuteSettings& settings) {
  return execute_test(id, test, settings, AttemptContext{test.desc.name, 1, {}});
}

CompletedTest execute_with_retries(TestId id, const TestDescAndFn& test, const ExecuteSettings& settings,
                                   const RetryObserver& before_retry) {
  std::vector<Attempt> tries;
  std::vector<unsigned> failed_cards;
  while (true) {
    CompletedTest completed = execute_test(
        id, test, settings, AttemptContext{test.desc.name, static_cast<unsigned>(tries.size() + 1), failed_cards});
    const bool try_again = tries.size() < settings.retries && worth_retrying(outcome_of(completed.result())) &&
                           !stop_requested();
    if (!try_again) {
      tries.push_back(std::move(completed.last_try()));
      completed.attempts = std::move(tries);
      completed.tries_allowed = settings.retries + 1;
      return completed;
    }
    const auto card = completed.last_try().card();
    if (card && std::ranges::find(failed_cards, card->card) == failed_cards.end()) failed_cards.push_back(card->card);
    tries.push_back(std::move(completed.last_try()));
    if (before_retry) before_retry(tries);
  }
}

CompletedTest ignored_test(TestId id, const TestDesc& desc) { return single_try(id, desc, TestResult::ignored()); }

CompletedTest single_try(TestId id, const TestDesc& desc, TestResult result) {
  return CompletedTest{id, desc, {Attempt{std::move(result), std::nullopt}}};
}

}  // namespace harness
