// The run's tally, kept by the run loop and read by the formatters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "run/result.hpp"

namespace harness {

struct TestOutput {
  // A listed test and its captured output, for the summary's blocks.
  TestDesc desc;
  std::string stdout_bytes;
};

struct ReasonBlock {
  // The failures of one kind of their own (see Outcome::reason), for the
  // summary's "failures (<reason>)" block.
  std::string reason;
  std::vector<TestOutput> tests;
};

struct ConsoleTestState {
  // Counts and lists of a run, updated once per reported result. The lists are
  // in completion order.
  std::size_t total = 0;
  std::size_t passed = 0;
  std::size_t failed = 0;
  std::size_t ignored = 0;
  std::size_t measured = 0;
  std::size_t filtered_out = 0;
  std::optional<TestSuiteExecTime> exec_time;
  std::vector<TestOutput> failures;
  std::vector<TestOutput> passes;
  std::vector<ReasonBlock> reason_failures;  // in the order each reason first failed a test
  std::optional<TestDesc> last_ignored;      // for the summary of a run of one ignored test
  std::vector<TestDesc> flaky;               // passed after failing a try (see is_flaky)
  // Passed after failing on a suspect card (CompletedTest::card_fault), with that card.
  std::vector<std::pair<TestDesc, unsigned>> card_faults;
  std::vector<CardVerdict> card_verdicts;  // at the end of a run that watches card health

  // Counts `test` and files its output in the list its outcome belongs to.
  void tally(const CompletedTest& test);

  bool succeeded() const { return failed == 0; }
};

}  // namespace harness
