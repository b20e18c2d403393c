// The run's counts, kept by the run loop and handed to every listener.
#pragma once

#include <cstddef>
#include <optional>

#include "run/result.hpp"

namespace harness {

struct RunCounts {
  // How the run's tests ended so far, as the summary line counts them.
  std::size_t total = 0;  // the tests selected for the run
  std::size_t passed = 0;
  std::size_t failed = 0;
  std::size_t ignored = 0;
  std::size_t measured = 0;
  std::size_t filtered_out = 0;
  std::size_t flaky = 0;  // of the passed, those that failed a try first (see is_flaky)
  // Of the passed, those that failed on a suspect card first (CompletedTest::card_fault).
  std::size_t card_faults = 0;
  // The whole run's time, known once the run has finished.
  std::optional<TestSuiteExecTime> exec_time;

  // Counts `test` under its verdict.
  void count(const CompletedTest& test);

  bool succeeded() const { return failed == 0; }
};

}  // namespace harness
