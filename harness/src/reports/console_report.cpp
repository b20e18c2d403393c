#include "reports/console_report.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "reports/time_format.hpp"
#include "run/card_health.hpp"
#include "run/outcome.hpp"
#include "zlu-base/src/utf8.hpp"

namespace harness {
namespace {

std::vector<TestOutput>& block_for(std::vector<ReasonBlock>& blocks, std::string_view reason) {
  for (ReasonBlock& block : blocks)
    if (block.reason == reason) return block.tests;
  return blocks.emplace_back(ReasonBlock{std::string(reason), {}}).tests;
}

}  // namespace

void SummaryLists::add(const CompletedTest& test) {
  const Outcome outcome = outcome_of(test.result());
  std::string output = output_of_tries(test);
  switch (outcome.verdict) {
    case Verdict::Passed:
      if (is_flaky(test)) flaky.push_back(test.desc);
      passes.push_back({test.desc, std::move(output)});
      break;
    case Verdict::Failed:
      if (!outcome.reason.empty()) {
        // A cycle regression's note is what moved.
        if (outcome.note) output += std::string(*outcome.note) + "\n";
        block_for(reason_failures, outcome.reason).push_back({test.desc, std::move(output)});
      } else if (outcome.note) {
        failures.push_back({test.desc, std::move(output) + "note: " + std::string(*outcome.note)});
      } else {
        failures.push_back({test.desc, std::move(output)});
      }
      break;
    case Verdict::Ignored: last_ignored = test.desc; break;
    case Verdict::Measured: break;
  }
}

std::string render_start_line(const RunStart& start) {
  std::string seed = start.shuffle_seed ? fmt::format(" (shuffle seed: {})", *start.shuffle_seed) : "";
  return fmt::format("\nrunning {} test{}{}\n", start.test_count, start.test_count == 1 ? "" : "s", seed);
}

std::string render_still_running(const TestDesc& desc) {
  return fmt::format("test {} has been running for over 60 seconds\n", desc.name);
}

void write_block(ConsoleOutput& out, std::string_view title, const std::vector<TestOutput>& tests) {
  const std::string heading = fmt::format("\n{}:\n", title);
  out.write(heading);
  const bool any_output =
      std::any_of(tests.begin(), tests.end(), [](const TestOutput& t) { return !t.stdout_bytes.empty(); });
  if (any_output) {
    std::string sections = "\n";
    for (const TestOutput& test : tests) {
      if (test.stdout_bytes.empty()) continue;
      sections += fmt::format("---- {} stdout ----\n{}\n", test.desc.name, zlu_base::decode_utf8_lossy(test.stdout_bytes));
    }
    out.write(sections);
  }
  std::vector<std::string_view> names;
  names.reserve(tests.size());
  for (const TestOutput& test : tests) names.push_back(test.desc.name);
  std::sort(names.begin(), names.end());
  std::string listing = heading;
  for (std::string_view name : names) listing += fmt::format("    {}\n", name);
  out.write(listing);
}

std::string render_flaky_line(const std::vector<TestDesc>& flaky) {
  std::vector<std::string_view> names;
  names.reserve(flaky.size());
  for (const TestDesc& desc : flaky) names.push_back(desc.name);
  std::sort(names.begin(), names.end());
  return fmt::format("flaky test{}: {}\n\n", names.size() == 1 ? "" : "s", fmt::join(names, ", "));
}

void write_summary(ConsoleOutput& out, const RunCounts& counts, const SummaryLists& lists, bool show_output,
                   std::span<const CardVerdict> card_verdicts) {
  if (show_output) write_block(out, "successes", lists.passes);
  if (!lists.failures.empty()) write_block(out, "failures", lists.failures);
  for (const ReasonBlock& block : lists.reason_failures)
    write_block(out, fmt::format("failures ({})", block.reason), block.tests);

  out.write("\ntest result: ");
  if (counts.succeeded()) {
    out.write_colored(Color::Green, "ok");
  } else {
    out.write_colored(Color::Red, "FAILED");
  }
  const std::string elapsed =
      counts.exec_time ? fmt::format("; finished in {}s", render_suite_time(*counts.exec_time)) : "";
  out.write(fmt::format(". {} passed; {} failed; {} ignored; {} measured; {} filtered out{}\n\n", counts.passed,
                        counts.failed, counts.ignored, counts.measured, counts.filtered_out, elapsed));
  if (!lists.flaky.empty()) out.write(render_flaky_line(lists.flaky));
  if (!card_verdicts.empty()) out.write(render_card_verdicts(card_verdicts) + "\n");

  if (counts.total == 1 && counts.ignored == 1 && lists.last_ignored && lists.last_ignored->ignore_message) {
    out.write(fmt::format("test: {}, ignore_message: {}\n\n", lists.last_ignored->name,
                          *lists.last_ignored->ignore_message));
  }
}

}  // namespace harness
