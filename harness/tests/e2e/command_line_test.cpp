// The command line as a user meets it: listing, help, option errors,
// selection and shuffling, checked on the demo executable's output.
#include <gtest/gtest.h>

#include "child_process.hpp"

namespace harness_e2e {
namespace {

const std::map<std::string, std::string> gate_open = {{"ZLU_TEST_BOOTSTRAP", "1"}};

// The names of the tests a run reported, in report order.
std::vector<std::string> reported_names(const std::string& stdout_text) {
  std::vector<std::string> names;
  for (const std::string& line : lines_of(stdout_text)) {
    if (!line.starts_with("test ")) continue;
    const std::size_t end = line.find(" ... ");
    if (end != std::string::npos) names.push_back(line.substr(5, end - 5));
  }
  return names;
}

TEST(CommandLine, ListShowsEveryTestAndTheCountsTerseListShowsTheNamesOnly) {
  const ChildRun pretty = run_demo({"--list", "pass"});
  EXPECT_EQ(pretty.exit_status, 0);
  EXPECT_EQ(pretty.stdout_text,
            "passes_quietly: test\nprints_and_passes: test\nsleeps_then_passes: test\n\n3 tests, 0 benchmarks\n");
  const ChildRun terse = run_demo({"--list", "-q", "throws"});
  EXPECT_EQ(terse.exit_status, 0);
  EXPECT_EQ(terse.stdout_text, "throws_non_exception: test\nthrows_runtime_error: test\n");
}

TEST(CommandLine, HelpStartsWithTheSynopsisAndExitsZero) {
  const ChildRun run = run_demo({"--help", "--test-threads=0", "-q"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_TRUE(run.stdout_text.starts_with(std::string("Usage: ") + HARNESS_DEMO_PATH +
                                          " [OPTIONS] [FILTERS...]\n\nOptions:\n"
                                          "        --include-ignored \n"
                                          "                        Run ignored and not ignored tests\n"))
      << run.stdout_text;
  EXPECT_EQ(run.stderr_text, "");
}

TEST(CommandLine, OptionErrorsEndTheRunBeforeAnyTestWithStatus101) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--test-threads=0"}, "error: argument for --test-threads must not be 0\n"},
      {{"--test-threads", "x"},
       "error: argument for --test-threads must be a number > 0 (error: invalid digit found in string)\n"},
      {{"--exact", "--exact"}, "error: Option 'exact' given more than once\n"},
      {{"--shuffle"}, "error: The \"shuffle\" flag is only accepted on the nightly compiler with -Z unstable-options\n"},
      {{"--bogus"}, "error: Unrecognized option: 'bogus'\n"},
      {{"--color", "sometimes"}, "error: argument for --color must be auto, always, or never (was sometimes)\n"},
  };
  for (const auto& [args, message] : cases) {
    const ChildRun run = run_demo(args);
    EXPECT_EQ(run.exit_status, 101) << args[0];
    EXPECT_EQ(run.stderr_text, message);
    EXPECT_EQ(run.stdout_text, "") << args[0];
  }
}

TEST(CommandLine, BadWorkerCountInTheEnvironmentIsNamed) {
  const ChildRun run = run_demo({"passes_quietly"}, {{"ZLU_TEST_THREADS", "many"}});
  EXPECT_EQ(run.exit_status, 101);
  EXPECT_EQ(run.stderr_text, "ZLU_TEST_THREADS is `many`, should be a positive integer.\n");
  EXPECT_EQ(run.stdout_text, "");
}

TEST(CommandLine, FiltersSkipsAndExactMatchingSelectInTableOrder) {
  const std::map<std::string, std::string> serial = {{"ZLU_TEST_THREADS", "1"}};
  const ChildRun filtered = run_demo({"throws", "passes"}, serial);
  EXPECT_EQ(reported_names(filtered.stdout_text),
            (std::vector<std::string>{"passes_quietly", "prints_and_passes", "sleeps_then_passes",
                                      "throws_non_exception", "throws_runtime_error"}));
  EXPECT_NE(filtered.stdout_text.find("; 6 filtered out;"), std::string::npos);

  const ChildRun skipped = run_demo({"passes", "--skip", "print", "--skip", "sleep"}, serial);
  EXPECT_EQ(reported_names(skipped.stdout_text), std::vector<std::string>{"passes_quietly"});
  EXPECT_EQ(skipped.exit_status, 0);

  const ChildRun exact = run_demo({"--exact", "passes_quietly", "passes"}, serial);
  EXPECT_EQ(reported_names(exact.stdout_text), std::vector<std::string>{"passes_quietly"});
  EXPECT_TRUE(exact.stdout_text.starts_with("\nrunning 1 test\n"));
  EXPECT_NE(exact.stdout_text.find("; 10 filtered out;"), std::string::npos);
}

TEST(CommandLine, BenchReportsEveryTestIgnoredWithoutRunningIt) {
  const ChildRun run = run_demo({"--bench", "fails_via_fail"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(without_times(run.stdout_text),
            "\nrunning 1 test\ntest fails_via_fail ... ignored\n"
            "\ntest result: ok. 0 passed; 0 failed; 1 ignored; 0 measured; 10 filtered out; finished in <T>s\n\n");
}

TEST(CommandLine, EverythingAfterDoubleDashIsAFilter) {
  const ChildRun run = run_demo({"--", "-q"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(without_times(run.stdout_text),
            "\nrunning 0 tests\n"
            "\ntest result: ok. 0 passed; 0 failed; 0 ignored; 0 measured; 11 filtered out; finished in <T>s\n\n");
}

TEST(CommandLine, ShuffleSeedGivesTheSameOrderEveryTimeAndNamesItInTheStartLine) {
  const std::vector<std::string> args = {"-Z", "unstable-options", "--shuffle-seed", "12345", "--test-threads", "1"};
  const ChildRun first = run_demo(args, gate_open);
  const ChildRun second = run_demo(args, gate_open);
  EXPECT_TRUE(first.stdout_text.starts_with("\nrunning 11 tests (shuffle seed: 12345)\n")) << first.stdout_text;
  const std::vector<std::string> order = reported_names(first.stdout_text);
  EXPECT_EQ(order.size(), 11u);
  EXPECT_EQ(order, reported_names(second.stdout_text));

  std::vector<std::string> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NE(order, sorted) << "a shuffled run of 11 tests kept the table order";

  const ChildRun from_env = run_demo({"-Z", "unstable-options", "--test-threads", "1"},
                                     {{"ZLU_TEST_BOOTSTRAP", "1"}, {"ZLU_TEST_SHUFFLE_SEED", "12345"}});
  EXPECT_EQ(reported_names(from_env.stdout_text), order);

  // A listing shows the table order whatever the seed.
  const ChildRun listing = run_demo({"-Z", "unstable-options", "--shuffle-seed", "12345", "--list", "-q"}, gate_open);
  std::string table_order;
  for (const std::string& name : sorted) table_order += name + ": test\n";
  EXPECT_EQ(listing.stdout_text, table_order);
}

}  // namespace
}  // namespace harness_e2e
