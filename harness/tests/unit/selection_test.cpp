#include <gtest/gtest.h>

#include <algorithm>

#include "fake_table.hpp"
#include "option_test_support.hpp"
#include "options/selection.hpp"
#include "reports/listing.hpp"

namespace harness {
namespace {

using testing::hardware_table;
using testing::names_of;

Selection select(std::vector<std::string> args, testing::Env env = {}) {
  const auto parsed = testing::parse(std::move(args), std::move(env));
  EXPECT_TRUE(parsed.has_value());
  return select_tests(parsed ? parsed->opts : TestOpts{}, hardware_table());
}

TEST(Selection, ExactFilterPicksOneTest) {
  const Selection selection = select({"--exact", "direct_multicast_works"});
  EXPECT_EQ(names_of(selection.tests), std::vector<std::string>{"direct_multicast_works"});
  EXPECT_EQ(selection.filtered_out, 22u);
  EXPECT_TRUE(select({"--exact", "direct_multicast"}).tests.empty());
}

TEST(Selection, SubstringFiltersKeepTableOrder) {
  const Selection selection = select({"tile"});
  EXPECT_EQ(names_of(selection.tests),
            (std::vector<std::string>{"all_tile_permutation_works", "all_tile_reduction_works",
                                      "initialized_local_tile_d2h_works", "initialized_remote_tile_d2h_works",
                                      "randomized_multi_tile_host_round_trips_work", "remote_tile_h2d_and_d2h_work"}));
  EXPECT_EQ(selection.filtered_out, 17u);

  // Any filter may match; a test matched twice is kept once.
  EXPECT_EQ(names_of(select({"gemm", "attention", "gemm_with"}).tests),
            (std::vector<std::string>{"blocked_gemm_with_cycle_profile_works",
                                      "flash_attention_matches_host_softmax_across_encoder_shapes"}));
}

TEST(Selection, SkipDropsByTheSameRule) {
  EXPECT_EQ(select({"--skip", "randomized"}).tests.size(), 21u);
  EXPECT_EQ(select({"--skip", "randomized", "--skip", "multicast"}).tests.size(), 19u);
  EXPECT_EQ(select({"--exact", "--skip", "randomized"}).tests.size(), 23u);
  const Selection skipped = select({"--exact", "--skip", "direct_multicast_works"});
  EXPECT_EQ(skipped.tests.size(), 22u);
  EXPECT_EQ(skipped.filtered_out, 1u);
  EXPECT_EQ(select({"tile", "--skip", "all_"}).tests.size(), 4u);
}

TEST(Selection, DashDashMakesAFilterThatMatchesNothing) {
  const Selection selection = select({"--", "-q"});
  EXPECT_TRUE(selection.tests.empty());
  EXPECT_EQ(selection.filtered_out, 23u);
}

TEST(Selection, BenchAloneMarksEverySelectedTestIgnored) {
  const Selection bench = select({"--bench"});
  EXPECT_EQ(bench.tests.size(), 23u);
  EXPECT_TRUE(std::ranges::all_of(bench.tests, [](const TestDescAndFn& test) { return test.desc.ignore; }));
  const Selection bench_and_test = select({"--bench", "--test"});
  EXPECT_TRUE(std::ranges::none_of(bench_and_test.tests, [](const TestDescAndFn& test) { return test.desc.ignore; }));
}

TEST(Selection, IgnoredModesAndExpectedFailures) {
  auto table = hardware_table();
  table[1].desc.ignore = true;
  table[4].desc.ignore = true;
  table[7].desc.should_panic.kind = ShouldPanicKind::YesWithMessage;
  const auto opts_for = [](std::vector<std::string> args) {
    return testing::parse(std::move(args), testing::gate_open)->opts;
  };

  const Selection plain = select_tests(opts_for({}), table);
  EXPECT_EQ(plain.tests.size(), 23u);
  EXPECT_TRUE(plain.tests[1].desc.ignore);

  const Selection only = select_tests(opts_for({"--ignored"}), table);
  EXPECT_EQ(names_of(only.tests), (std::vector<std::string>{"all_tile_reduction_works", "direct_multicast_works"}));
  EXPECT_FALSE(only.tests[0].desc.ignore);
  EXPECT_EQ(only.filtered_out, 21u);

  const Selection also = select_tests(opts_for({"--include-ignored"}), table);
  EXPECT_EQ(also.tests.size(), 23u);
  EXPECT_TRUE(std::ranges::none_of(also.tests, [](const TestDescAndFn& test) { return test.desc.ignore; }));

  const Selection no_panics = select_tests(opts_for({"-Zunstable-options", "--exclude-should-panic"}), table);
  EXPECT_EQ(no_panics.tests.size(), 22u);
  EXPECT_EQ(no_panics.filtered_out, 1u);
}

TEST(Listing, PrettyCountsAndTerseListsNamesOnly) {
  const Selection all = select({});
  const Listing pretty = render_list(TestOpts{}, all);
  EXPECT_TRUE(pretty.stdout_text.starts_with("all_tile_permutation_works: test\nall_tile_reduction_works: test\n"));
  EXPECT_TRUE(pretty.stdout_text.ends_with("sparse_compute_to_dense_exchange_works: test\n\n23 tests, 0 benchmarks\n"));
  EXPECT_EQ(pretty.logfile_text, "");

  TestOpts terse;
  terse.format = OutputFormat::Terse;
  const Listing quiet = render_list(terse, all);
  EXPECT_EQ(std::ranges::count(quiet.stdout_text, '\n'), 23);
  EXPECT_TRUE(quiet.stdout_text.ends_with("sparse_compute_to_dense_exchange_works: test\n"));

  TestOpts logged;
  logged.logfile = "list.log";
  const Listing one = render_list(logged, select({"--exact", "direct_multicast_works"}));
  EXPECT_EQ(one.stdout_text, "direct_multicast_works: test\n\n1 test, 0 benchmarks\n");
  EXPECT_EQ(one.logfile_text, "test direct_multicast_works\n");

  EXPECT_EQ(render_list(TestOpts{}, select({"nothing"})).stdout_text, "0 tests, 0 benchmarks\n");
}

}  // namespace
}  // namespace harness
