#include <gtest/gtest.h>

#include <algorithm>

#include "fake_table.hpp"
#include "options/options.hpp"
#include "options/selection.hpp"
#include "options/shuffle.hpp"

namespace harness {
namespace {

using testing::hardware_table;
using testing::names_of;

std::vector<std::string> shuffled(std::uint64_t seed, std::vector<TestDescAndFn> tests) {
  shuffle_tests(seed, tests);
  return names_of(tests);
}

TEST(Shuffle, IsAPermutationFixedBySeedAndNames) {
  const auto table = hardware_table();
  const auto first = shuffled(42, table);
  EXPECT_EQ(first, shuffled(42, table));
  EXPECT_NE(first, names_of(table));
  auto sorted = first;
  std::ranges::sort(sorted);
  EXPECT_EQ(sorted, names_of(table));

  std::size_t differing_seeds = 0;
  for (std::uint64_t seed = 1; seed <= 20; ++seed) differing_seeds += shuffled(seed, table) != first ? 1 : 0;
  EXPECT_EQ(differing_seeds, 20u);
}

TEST(Shuffle, DependsOnTheNamesNotOnWhereTheyStand) {
  const auto table = hardware_table();
  auto reversed = table;
  std::ranges::reverse(reversed);
  EXPECT_EQ(shuffled(7, table), shuffled(7, reversed));

  // Another selection is another order, not the same order with a gap.
  auto fewer = table;
  fewer.erase(fewer.begin());
  auto expected_if_names_ignored = shuffled(7, table);
  std::erase(expected_if_names_ignored, std::string(table.front().desc.name));
  EXPECT_NE(shuffled(7, fewer), expected_if_names_ignored);
}

TEST(Shuffle, SelectionKeepsTableOrderSoThatListingsNeverShuffle) {
  TestOpts opts;
  opts.shuffle = true;
  opts.shuffle_seed = 42;
  ASSERT_NE(shuffled(42, hardware_table()), names_of(hardware_table()));
  EXPECT_EQ(names_of(select_tests(opts, hardware_table()).tests), names_of(hardware_table()));
}

// The seed as a value, or the error text, for comparing.
std::string seed_text(const std::expected<std::optional<std::uint64_t>, std::string>& seed) {
  if (!seed) return "error: " + seed.error();
  return seed->has_value() ? std::to_string(**seed) : "none";
}

TEST(ShuffleSeed, ComesFromTheOptionsElseTheClockWhenShuffling) {
  using std::chrono::system_clock;
  const auto at = system_clock::time_point(std::chrono::nanoseconds(1'700'000'000'123'456'789));
  const auto before_1970 = system_clock::time_point(-std::chrono::seconds(1));
  TestOpts opts;
  EXPECT_EQ(seed_text(shuffle_seed_at(opts, at)), "none");
  opts.shuffle = true;
  EXPECT_EQ(seed_text(shuffle_seed_at(opts, at)), "1700000000123456789");
  EXPECT_EQ(seed_text(shuffle_seed_at(opts, before_1970)), "error: Failed to get system time");
  opts.shuffle_seed = 5;
  EXPECT_EQ(seed_text(shuffle_seed_at(opts, before_1970)), "5");
  opts.shuffle_seed.reset();
  const auto now = shuffle_seed(opts);
  ASSERT_TRUE(now.has_value() && now->has_value());
  EXPECT_GT(**now, 1'700'000'000'000'000'000u);
}

}  // namespace
}  // namespace harness
