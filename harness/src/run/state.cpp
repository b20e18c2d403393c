#include "run/state.hpp"

#include "run/outcome.hpp"

namespace harness {

namespace {

std::vector<TestOutput>& block_for(std::vector<ReasonBlock>& blocks, std::string_view reason) {
  for (ReasonBlock& block : blocks)
    if (block.reason == reason) return block.tests;
  return blocks.emplace_back(ReasonBlock{std::string(reason), {}}).tests;
}

}  // namespace

void ConsoleTestState::tally(const CompletedTest& test) {
  const Outcome outcome = outcome_of(test.result);
  std::string output = output_of_tries(test);
  switch (outcome.verdict) {
    case Verdict::Passed:
      ++passed;
      if (is_flaky(test)) flaky.push_back(test.desc);
      if (test.card_fault) card_faults.emplace_back(test.desc, *test.card_fault);
      passes.push_back({test.desc, std::move(output)});
      break;
    case Verdict::Failed:
      ++failed;
      if (!outcome.reason.empty()) {
        block_for(reason_failures, outcome.reason).push_back({test.desc, std::move(output)});
      } else if (outcome.note) {
        failures.push_back({test.desc, std::move(output) + "note: " + std::string(*outcome.note)});
      } else {
        failures.push_back({test.desc, std::move(output)});
      }
      break;
    case Verdict::Ignored:
      ++ignored;
      last_ignored = test.desc;
      break;
    case Verdict::Measured:
      ++measured;
      break;
  }
}

}  // namespace harness
