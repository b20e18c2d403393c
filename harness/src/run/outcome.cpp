#include "run/outcome.hpp"

#include <algorithm>
#include <fmt/format.h>

#include "run/runner_output.hpp"

namespace harness {

Outcome outcome_of(const TestResult& result) {
  switch (result.kind) {
    case TestResult::Kind::Ok: return {Verdict::Passed};
    case TestResult::Kind::Failed: return {Verdict::Failed};
    case TestResult::Kind::FailedWithNote: return {Verdict::Failed, {}, result.note};
    case TestResult::Kind::Ignored: return {Verdict::Ignored};
    case TestResult::Kind::Bench: return {Verdict::Measured};
    case TestResult::Kind::TimeLimitExceeded: return {Verdict::Failed, "time limit exceeded"};
    case TestResult::Kind::CycleRegression: return {Verdict::Failed, "cycle regression", result.note};
  }
  return {Verdict::Failed};
}

std::string_view failure_message_of(const Attempt& attempt, const Outcome& outcome) {
  if (outcome.note) return *outcome.note;
  if (!outcome.reason.empty()) return {};
  return attempt.failure_message;
}

bool worth_retrying(const Outcome& outcome) { return outcome.failed() && outcome.reason.empty(); }

bool is_flaky(const CompletedTest& test) {
  return test.attempts.size() > 1 && outcome_of(test.result()).passed() && !test.card_fault;
}

std::string flaky_note(const CompletedTest& test) {
  if (!is_flaky(test)) return {};
  return fmt::format("flaky: passed on try {} of {}", test.attempts.size(), test.tries_allowed);
}

std::string card_fault_note(const CompletedTest& test) {
  if (!test.card_fault || !outcome_of(test.result()).passed()) return {};
  return fmt::format("card {} at fault: passed on try {} of {}", *test.card_fault, test.attempts.size(),
                     test.tries_allowed);
}

std::string retry_note(const CompletedTest& test) {
  return is_flaky(test) ? flaky_note(test) : card_fault_note(test);
}

std::string output_of_tries(const CompletedTest& test) {
  std::vector<std::string> outputs;
  for (const Attempt& attempt : test.attempts)
    outputs.push_back(output_with_runners(attempt.stdout_bytes, attempt.runner_output));
  const bool any_output = std::ranges::any_of(outputs, [](const std::string& t) { return !t.empty(); });
  if (outputs.size() == 1 || !any_output) return std::move(outputs.back());
  std::string output;
  for (std::size_t i = 0; i < outputs.size(); ++i)
    output += fmt::format("---- try {} of {} ----\n{}", i + 1, test.tries_allowed, outputs[i]);
  return output;
}

}  // namespace harness
