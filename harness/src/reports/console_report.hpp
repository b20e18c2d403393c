// The pieces of the console report that the pretty and terse formats share:
// the start line, the still-running warning and the summary with its blocks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/console.hpp"
#include "reports/formatter.hpp"
#include "run/counts.hpp"

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

struct SummaryLists {
  // What the console's summary lists beside the counts, kept by the console
  // formats from the results they are given. The lists are in completion
  // order.
  std::vector<TestOutput> failures;
  std::vector<TestOutput> passes;
  std::vector<ReasonBlock> reason_failures;  // in the order each reason first failed a test
  std::optional<TestDesc> last_ignored;      // for the summary of a run of one ignored test
  std::vector<TestDesc> flaky;               // passed after failing a try (see is_flaky)

  // Files `test` and its output in the list its outcome belongs to.
  void add(const CompletedTest& test);
};

// "\nrunning <n> tests\n", with " (shuffle seed: <seed>)" when shuffled.
std::string render_start_line(const RunStart& start);

// "test <name> has been running for over 60 seconds\n".
std::string render_still_running(const TestDesc& desc);

// A block of the summary: the title, the non-empty outputs in completion
// order (decoded as UTF-8), and the title again with the sorted names.
void write_block(ConsoleOutput& out, std::string_view title, const std::vector<TestOutput>& tests);

// "flaky tests: <name>, <name>\n\n": the tests that passed after failing a
// try, sorted in byte order ("flaky test: <name>" for one).
std::string render_flaky_line(const std::vector<TestDesc>& flaky);

// The summary after the last result: the successes block when `show_output`,
// the failures blocks, the result line, the flaky tests when there are any
// and, for a run of one test that was ignored with a message, that message.
void write_summary(ConsoleOutput& out, const RunCounts& counts, const SummaryLists& lists, bool show_output,
                   std::span<const CardVerdict> card_verdicts = {});

}  // namespace harness
