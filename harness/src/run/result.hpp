// What a test's run produces and what the run loop learns about it.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
  enum class Kind { Ok, Failed, FailedWithNote, Ignored, Bench, TimeLimitExceeded };
  Kind kind = Kind::Ok;
  std::string note;      // with FailedWithNote
  BenchFigures bench{};  // with Bench

  static TestResult ok() { return {}; }
  static TestResult failed() { return {Kind::Failed, {}, {}}; }
  static TestResult failed_with_note(std::string note) { return {Kind::FailedWithNote, std::move(note), {}}; }
  static TestResult ignored() { return {Kind::Ignored, {}, {}}; }
  static TestResult time_limit_exceeded() { return {Kind::TimeLimitExceeded, {}, {}}; }
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
  // A try of a test that failed and was run again (ZLU_TEST_RETRIES). The
  // last try's facts are kept in the CompletedTest itself; attempts_of lists
  // all of them alike.
  TestResult result;
  std::optional<TestExecTime> exec_time;
  std::string stdout_bytes;
  std::string failure_message{};
  Measurements measurements{};
  std::vector<RunnerOutput> runner_output{};
  WallClock::time_point started{};
  WallClock::time_point ended{};
};

struct CompletedTest {
  // A finished test as the worker sends it to the run loop.
  TestId id = 0;
  TestDesc desc;
  TestResult result;
  std::optional<TestExecTime> exec_time;
  std::string stdout_bytes;  // the captured output, not necessarily UTF-8
  // The message of the failure the body raised, empty when it raised none;
  // machine-readable reports carry it apart from the output.
  std::string failure_message{};
  TestProperties properties{};
  Measurements measurements{};
  // The runners' output, in the order the runners ended (capture on).
  std::vector<RunnerOutput> runner_output{};
  // The tries before the one above, in order; empty unless retries are on
  // and the test failed at least once. The fields above are the last try's.
  std::vector<Attempt> failed_tries{};
  // How many tries the test was allowed: one more than the retries.
  std::size_t tries_allowed = 1;
  // The suspect card the test failed on before it passed on another, when
  // the run watches card health: the failure was the card's, not the test's.
  std::optional<unsigned> card_fault{};
  // When the last try started and ended; the epoch for a test not run.
  WallClock::time_point started{};
  WallClock::time_point ended{};
};

struct AttemptView {
  // One try of a test as a listener reads it, wherever it is kept: each
  // field refers into the CompletedTest it was taken from.
  std::size_t number = 1;  // from 1
  const TestResult* result = nullptr;
  const std::optional<TestExecTime>* exec_time = nullptr;
  std::string_view stdout_bytes;
  std::string_view failure_message;
  const Measurements* measurements = nullptr;
  const std::vector<RunnerOutput>* runner_output = nullptr;
  WallClock::time_point started{};
  WallClock::time_point ended{};

  // The card the try ran on and its wait, when one was attached.
  std::optional<CardUse> card() const { return card_use_of(*measurements); }
};

// The tries of `test` in the order they ran, the last one last; empty for a
// test that was not run (ignored).
std::vector<AttemptView> attempts_of(const CompletedTest& test);

}  // namespace harness
