#include <gtest/gtest.h>

#include <algorithm>
#include <fmt/format.h>
#include <map>

#include "fake_table.hpp"
#include "option_test_support.hpp"
#include "options/selection.hpp"

namespace harness {
namespace {

using testing::hardware_table;
using testing::names_of;

Selection slice_of(const std::string& partition, std::vector<std::string> args = {}) {
  const auto parsed = testing::parse(std::move(args), {{"ZLU_TEST_PARTITION", partition}});
  EXPECT_TRUE(parsed.has_value()) << partition;
  return select_tests(parsed ? parsed->opts : TestOpts{}, hardware_table());
}

TEST(Partition, EveryKindAndSizeCoversEachTestExactlyOnce) {
  for (const std::string kind : {"count", "hash"}) {
    for (int count = 1; count <= 6; ++count) {
      std::map<std::string, int> seen;
      std::size_t smallest = 23, largest = 0;
      for (int index = 1; index <= count; ++index) {
        const std::string partition = fmt::format("{}:{}/{}", kind, index, count);
        const Selection slice = slice_of(partition);
        EXPECT_EQ(slice.filtered_out, 23u - slice.tests.size()) << partition;
        for (const std::string& name : names_of(slice.tests)) ++seen[name];
        smallest = std::min(smallest, slice.tests.size());
        largest = std::max(largest, slice.tests.size());
      }
      EXPECT_EQ(seen.size(), 23u) << kind << " of " << count;
      EXPECT_TRUE(std::ranges::all_of(seen, [](const auto& entry) { return entry.second == 1; }))
          << kind << " of " << count;
      if (kind == "count") {
        EXPECT_LE(largest - smallest, 1u) << count;
      }
    }
  }
}

TEST(Partition, CountDealsTheSelectedTestsInTableOrder) {
  // After the filter, the tile tests are dealt one by one: 1st, 4th to slice 1.
  EXPECT_EQ(names_of(slice_of("count:1/3", {"tile"}).tests),
            (std::vector<std::string>{"all_tile_permutation_works", "initialized_remote_tile_d2h_works"}));
  const Selection skipped = slice_of("count:2/2", {"--skip", "randomized"});
  EXPECT_EQ(skipped.tests.size(), 10u);
  EXPECT_EQ(skipped.filtered_out, 13u);
  EXPECT_EQ(skipped.tests.front().desc.name, "all_tile_reduction_works");
}

TEST(Partition, HashMembershipDoesNotMoveUnderAFilter) {
  for (int index = 1; index <= 4; ++index) {
    const std::string partition = fmt::format("hash:{}/4", index);
    std::vector<std::string> whole_then_filtered;
    for (const std::string& name : names_of(slice_of(partition).tests))
      if (name.find("h2d") != std::string::npos) whole_then_filtered.push_back(name);
    EXPECT_EQ(names_of(slice_of(partition, {"h2d"}).tests), whole_then_filtered) << partition;
  }
}

TEST(Partition, MalformedValuesAreRefusedNamingTheVariable) {
  for (const std::string value :
       {"count:0/4", "count:5/4", "count:1/0", "count:1", "hash:a/b", "slice:1/2", "", "count:1/2/3", "count:-1/2",
        "count:/2", "hash:1/99999999999999999999", "Count:1/2", "count:1/2 "}) {
    EXPECT_EQ(testing::refusal({}, {{"ZLU_TEST_PARTITION", value}}),
              "error: ZLU_TEST_PARTITION is `" + value + "`, should be count:K/N or hash:K/N with 1 <= K <= N.\n");
  }
  EXPECT_EQ(parse_partition("hash:4/4"), (Partition{PartitionKind::Hash, 4, 4}));
}

}  // namespace
}  // namespace harness
