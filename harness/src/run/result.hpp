// What a test's run produces and what the run loop learns about it.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cycles/baseline.hpp"
#include "lib.hpp"

namespace harness {

// A test's position among the selected tests, from 0.
using TestId = std::size_t;

struct BenchFigures {
  // Figures of a benchmark run. The tables this harness runs hold no benchmarks,
  // so no result of this kind is produced today; the kind is kept so that the
  // report formats cover every outcome.
  double ns_per_iter = 0;
  double deviation = 0;
};

struct TestResult {
  // The outcome of one test.
  enum class Kind { Ok, Failed, FailedWithNote, Ignored, Bench, TimeLimitExceeded, CycleRegression };
  Kind kind = Kind::Ok;
  std::string note;      // with FailedWithNote, and CycleRegression's changes
  BenchFigures bench{};  // with Bench

  static TestResult ok() { return {}; }
  static TestResult failed() { return {Kind::Failed, {}, {}}; }
  static TestResult failed_with_note(std::string note) { return {Kind::FailedWithNote, std::move(note), {}}; }
  static TestResult ignored() { return {Kind::Ignored, {}, {}}; }
  static TestResult time_limit_exceeded() { return {Kind::TimeLimitExceeded, {}, {}}; }
  static TestResult cycle_regression(std::string changes) { return {Kind::CycleRegression, std::move(changes), {}}; }
};

struct TestExecTime {
  // How long a test's body ran; measured only when time reporting is on.
  std::chrono::nanoseconds duration{};
};

struct TestSuiteExecTime {
  // How long the whole run took, from just before the start line to the end.
  std::chrono::nanoseconds duration{};
};

// Named values a test body attached to its result (record_property), in the
// order their names were first recorded.
using TestProperties = std::vector<std::pair<std::string, std::string>>;

// The measurements a test body attached to a try (attach), one per kind, in
// the order their kinds were first attached.
using Measurements = std::vector<Measurement>;

// The card use among `measurements`, if one was attached.
std::optional<CardUse> card_use_of(const Measurements& measurements);

// The wall clock, by which a run's events and tries are stamped.
using WallClock = std::chrono::system_clock;

struct Attempt {
  // One try of a test: what its body did, on which card, and when.
  TestResult result;
  std::optional<TestExecTime> exec_time;
  std::string stdout_bytes{};  // the captured output, not necessarily UTF-8
  // The message of the failure the body raised, empty when it raised none;
  // machine-readable reports carry it apart from the output.
  std::string failure_message{};
  Measurements measurements{};
  // The runners' output, in the order the runners ended (capture on).
  std::vector<RunnerOutput> runner_output{};
  // The try's cycle summary judged against the baseline, when the run gates
  // on cycles and the body passed.
  std::optional<CycleJudgement> cycles{};
  // When the try started and ended; the epoch for a test that was not run.
  WallClock::time_point started{};
  WallClock::time_point ended{};

  // The card the try ran on and its wait, when one was attached.
  std::optional<CardUse> card() const { return card_use_of(measurements); }
};

struct CompletedTest {
  // A finished test as the worker sends it to the run loop and the run loop
  // hands it to every listener.
  TestId id = 0;
  TestDesc desc;
  // The tries in the order they ran; never empty. The last one is the
  // test's result: a test that was not run has one, ignored and never
  // started. More than one only when retries are on and a try failed.
  std::vector<Attempt> attempts{Attempt{}};
  TestProperties properties{};
  // How many tries the test was allowed: one more than the retries.
  std::size_t tries_allowed = 1;
  // The suspect card the test failed on before it passed on another, when
  // the run watches card health: the failure was the card's, not the test's.
  std::optional<unsigned> card_fault{};

  const Attempt& last_try() const { return attempts.back(); }
  Attempt& last_try() { return attempts.back(); }
  const TestResult& result() const { return attempts.back().result; }
  // The tries that failed before the last one, in order.
  std::span<const Attempt> earlier_tries() const { return std::span(attempts).first(attempts.size() - 1); }
};

}  // namespace harness
