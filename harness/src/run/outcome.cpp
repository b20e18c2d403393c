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
  }
  return {Verdict::Failed};
}

namespace {

std::string_view message_of(std::string_view raised, const Outcome& outcome) {
  if (!outcome.reason.empty()) return {};
  if (outcome.note) return *outcome.note;
  return raised;
}

}  // namespace

std::string_view failure_message_of(const CompletedTest& test, const Outcome& outcome) {
  return message_of(test.failure_message, outcome);
}

std::string_view failure_message_of(const Attempt& failed_try, const Outcome& outcome) {
  return message_of(failed_try.failure_message, outcome);
}

bool worth_retrying(const Outcome& outcome) { return outcome.failed() && outcome.reason.empty(); }

bool is_flaky(const CompletedTest& test) {
  return !test.failed_tries.empty() && outcome_of(test.result).passed() && !test.card_fault;
}

std::string flaky_note(const CompletedTest& test) {
  if (!is_flaky(test)) return {};
  return fmt::format("flaky: passed on try {} of {}", test.failed_tries.size() + 1, test.tries_allowed);
}

std::vector<AttemptView> attempts_of(const CompletedTest& test) {
  std::vector<AttemptView> attempts;
  if (test.failed_tries.empty() && outcome_of(test.result).verdict == Verdict::Ignored) return attempts;
  for (const Attempt& failed : test.failed_tries)
    attempts.push_back({attempts.size() + 1, &failed.result, &failed.exec_time, failed.stdout_bytes,
                        failed.failure_message, &failed.measurements, &failed.runner_output, failed.started,
                        failed.ended});
  attempts.push_back({attempts.size() + 1, &test.result, &test.exec_time, test.stdout_bytes, test.failure_message,
                      &test.measurements, &test.runner_output, test.started, test.ended});
  return attempts;
}

std::string output_of_tries(const CompletedTest& test) {
  const std::string last = output_with_runners(test.stdout_bytes, test.runner_output);
  std::vector<std::string> failed;
  for (const Attempt& failed_try : test.failed_tries)
    failed.push_back(output_with_runners(failed_try.stdout_bytes, failed_try.runner_output));
  const bool any_output = !last.empty() || std::ranges::any_of(failed, [](const std::string& t) { return !t.empty(); });
  if (failed.empty() || !any_output) return last;
  std::string output;
  const auto append_try = [&](std::size_t number, std::string_view bytes) {
    output += fmt::format("---- try {} of {} ----\n", number, test.tries_allowed);
    output += bytes;
  };
  for (std::size_t i = 0; i < failed.size(); ++i) append_try(i + 1, failed[i]);
  append_try(failed.size() + 1, last);
  return output;
}

}  // namespace harness
