// The generator's exact output: shuffle orders, runner data and jitter delays
// are replayed from printed seeds, so a change to any step here would
// silently change what a seed means.
#include "zlu-base/src/splitmix64.hpp"

#include <cstdint>
#include <utility>

#include <gtest/gtest.h>

namespace {

TEST(SplitMix64, GivesTheReferenceSequence) {
  zlu_base::SplitMix64 generator(0);
  for (const std::uint64_t expected : {0xe220a8397b1dcdafULL, 0x6e789e6aa1b965f4ULL, 0x06c45d188009454fULL,
                                       0xf88bb8a8724c81ecULL}) {
    EXPECT_EQ(generator.next(), expected);
  }
  EXPECT_EQ(zlu_base::splitmix64_mix(0), 0u);
  EXPECT_EQ(zlu_base::splitmix64_mix(1), 0x5692161d100b05e5ULL);
}

TEST(SplitMix64, ReducesToARangeAsTheShuffleAndTheRunnersAlwaysHave) {
  // One generator through a row of bounds, the last of which rejects about
  // half of its draws.
  zlu_base::SplitMix64 shuffle(42);
  const std::pair<std::uint64_t, std::uint64_t> below[] = {
      {1, 0}, {2, 1}, {3, 0}, {10, 4}, {1000, 250}, {0x8000000000000001ULL, 6792609088808213253ULL}};
  for (const auto& [bound, expected] : below) EXPECT_EQ(shuffle.below(bound), expected) << "below " << bound;

  zlu_base::SplitMix64 runner(7);
  EXPECT_EQ(runner.between(0, 0), 0u);
  EXPECT_EQ(runner.between(5, 9), 9u);
  EXPECT_EQ(runner.between(0, 1000000), 478616u);
  EXPECT_EQ(runner.between(0, UINT64_MAX), 0x953aeb70673e29cbULL);  // the whole range: a plain draw
}

}  // namespace
