#include "outcome.hpp"

namespace harness {

Outcome outcome_of(const TestResult& result) {
  switch (result.kind) {
    case TestResult::Kind::Ok: return {Verdict::Passed};
    case TestResult::Kind::Failed: return {Verdict::Failed};
    case TestResult::Kind::FailedWithNote: return {Verdict::Failed, {}, result.note};
    case TestResult::Kind::Ignored: return {Verdict::Ignored};
    case TestResult::Kind::Bench: return {Verdict::Measured};
    case TestResult::Kind::TimeLimitExceeded: return {Verdict::Failed, "time limit exceeded"};
  }
  return {Verdict::Failed};
}

std::string_view failure_message_of(const CompletedTest& test, const Outcome& outcome) {
  if (!outcome.reason.empty()) return {};
  if (outcome.note) return *outcome.note;
  return test.failure_message;
}

}  // namespace harness
