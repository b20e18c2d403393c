#include "state.hpp"

namespace harness {

void ConsoleTestState::tally(const CompletedTest& test) {
  switch (test.result.kind) {
    case TestResult::Kind::Ok:
      ++passed;
      passes.push_back({test.desc, test.stdout_bytes});
      break;
    case TestResult::Kind::Failed:
      ++failed;
      failures.push_back({test.desc, test.stdout_bytes});
      break;
    case TestResult::Kind::FailedWithNote:
      ++failed;
      failures.push_back({test.desc, test.stdout_bytes + "note: " + test.result.note});
      break;
    case TestResult::Kind::Ignored:
      ++ignored;
      last_ignored = test.desc;
      break;
    case TestResult::Kind::Bench:
      ++measured;
      break;
    case TestResult::Kind::TimeLimitExceeded:
      ++failed;
      time_failures.push_back({test.desc, test.stdout_bytes});
      break;
  }
}

}  // namespace harness
