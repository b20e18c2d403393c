#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using RunnerOutput = SuiteTest;

const std::string PERMUTATION = "all_tile_permutation_works";
const std::string SAID = "stand-in runner reporting for duty";
const std::string FAILURE_LINE = "tile 1042 offset 0x1f0 held 0x00000000, expected 0x5a5a5a5a";

std::size_t count(std::string_view text, std::string_view what) {
  std::size_t found = 0;
  for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++found;
  return found;
}

// What the report shows under `test` in its `block` ("failures" or
// "successes"): from the test's heading to the next test's heading or the
// block's list of names, runners' headings included.
std::string_view section(const SuiteRun& run, const std::string& block, const std::string& test) {
  const std::string_view out = run.out;
  const auto block_start = out.find("\n" + block + ":\n");
  if (block_start == std::string_view::npos) return {};
  const auto begin = out.find("\n---- " + test + " stdout ----\n", block_start);
  if (begin == std::string_view::npos) return {};
  auto end = begin + 1;
  do {
    end = std::min(out.find("\n---- ", end + 1), out.find("\n" + block + ":\n", end + 1));
  } while (end != std::string_view::npos && out.substr(end).starts_with("\n---- runner "));
  return out.substr(begin + 1, end == std::string_view::npos ? std::string_view::npos : end - begin - 1);
}

ChildEnvironment failing_permutation(bool captured) {
  ChildEnvironment environment = {{"ZLU_STANDIN_SAY", SAID},
                                  {"ZLU_STANDIN_WHEN", "ZLU_GRAPH_TEST=permutation"},
                                  {"ZLU_STANDIN_ERROR_LINE", FAILURE_LINE},
                                  {"ZLU_STANDIN_EXIT", "1"},
                                  {"ZLU_STANDIN_SLEEP_MS", "20"}};
  if (captured) environment["ZLU_TEST_RUNNER_OUTPUT"] = "capture";
  return environment;
}

TEST_F(RunnerOutput, AFailingRunnersLineAppearsUnderItsOwnTestAndNowhereElse) {
  const auto run = run_suite({"--test-threads", "4"}, failing_permutation(true));
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_NE(run.out.find("test result: FAILED. 22 passed; 1 failed;"), std::string::npos) << run.out;
  const std::string_view failed = section(run, "failures", PERMUTATION);
  EXPECT_EQ(count(failed, FAILURE_LINE + "\n"), 1u) << run.out;
  EXPECT_EQ(count(run.out + run.err, FAILURE_LINE), 1u) << run.out << run.err;
  // Its own greeting and no other runner's: the passing tests' runners are
  // kept out of sight like the tests' own output.
  EXPECT_EQ(count(failed, SAID), 1u) << run.out;
  EXPECT_EQ(count(run.out + run.err, SAID), 1u) << run.out << run.err;
}

TEST_F(RunnerOutput, ShowOutputShowsEveryRunnersLinesUnderItsTestOnce) {
  const auto run = run_suite({"--test-threads", "4", "--show-output"}, failing_permutation(true));
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_EQ(count(run.out, SAID), records().size()) << run.out;
  EXPECT_EQ(count(section(run, "successes", "all_tile_reduction_works"), SAID), 1u) << run.out;
  EXPECT_EQ(count(section(run, "successes", "randomized_static_d2d_graphs_work"), SAID), 3u) << run.out;
  EXPECT_EQ(count(run.err, SAID), 0u) << run.err;
}

TEST_F(RunnerOutput, UnsetRunnersWriteToTheSuitesStreamsAsBefore) {
  const auto run = run_suite({"--test-threads", "4"}, failing_permutation(false));
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_EQ(count(run.out, SAID), records().size()) << run.out;
  EXPECT_EQ(count(run.err, FAILURE_LINE + "\n"), 1u) << run.err;
  EXPECT_EQ(count(section(run, "failures", PERMUTATION), FAILURE_LINE), 0u) << run.out;
}

TEST_F(RunnerOutput, ARunnerThatWritesAHundredMegabytesIsCutNotKeptWhole) {
  constexpr std::size_t WRITTEN = 100'000'000;
  ChildEnvironment environment = failing_permutation(true);
  environment["ZLU_STANDIN_WRITE_BYTES"] = std::to_string(WRITTEN);
  const auto run = run_one(PERMUTATION, environment);
  EXPECT_EQ(run.exit_code(), 101);
  // Far below what the runner wrote: the suite held at most a few megabytes of it.
  EXPECT_LT(run.peak_rss_kib, 64 * 1024) << "peak RSS in KiB";
  EXPECT_LT(run.out.size(), 2u * 1024 * 1024);

  // The runner's output runs from its greeting to its failure line, with the
  // note where it was cut: what it kept and left out make up what it wrote.
  const std::string_view failed = section(run, "failures", PERMUTATION);
  const auto first = failed.find(SAID + "\n");
  const auto last = failed.find(FAILURE_LINE + "\n");
  ASSERT_NE(first, std::string_view::npos) << failed.substr(0, 2000);
  ASSERT_NE(last, std::string_view::npos) << failed.substr(0, 2000);
  const std::string kept(failed.substr(first, last + FAILURE_LINE.size() + 1 - first));
  const std::string opening = "\n[... ";
  const std::string closing = " bytes of runner output left out ...]\n";
  const auto note = kept.find(opening);
  ASSERT_NE(note, std::string::npos) << kept.substr(0, 2000);
  const auto note_end = kept.find(closing, note);
  ASSERT_NE(note_end, std::string::npos) << kept.substr(note, 200);
  const std::size_t left_out = std::stoull(kept.substr(note + opening.size(), note_end - note - opening.size()));
  const std::size_t note_size = note_end + closing.size() - (note + 1);
  const std::size_t runner_wrote = SAID.size() + 1 + WRITTEN + FAILURE_LINE.size() + 1;
  EXPECT_EQ(kept.size() - note_size + left_out, runner_wrote);
  EXPECT_LE(runner_wrote - left_out, 1024u * 1024u);
  EXPECT_GE(runner_wrote - left_out, 1024u * 1024u - 128u);
}

TEST_F(RunnerOutput, AMalformedSettingIsRefusedBeforeAnyRunnerStarts) {
  const auto run = run_suite({}, {{"ZLU_TEST_RUNNER_OUTPUT", "pipe"}});
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_EQ(run.err, "error: ZLU_TEST_RUNNER_OUTPUT is `pipe`, should be `capture` or unset.\n");
  EXPECT_TRUE(records().empty());
}

}  // namespace
}  // namespace hardware_e2e_tests
