#include "summary.hpp"

#include <gtest/gtest.h>

#include "profile_builder.hpp"

namespace zlu_profile {
namespace {

using testing::decode;
using testing::ProfileShape;
using testing::SampleSpec;
using zlu_package::ProfileStepKind;

SampleSpec sample(ProfileStepKind kind, std::uint32_t start, std::uint32_t end) {
  return {.kind = kind, .start_cycle = start, .end_cycle = end, .operation = "op", .kernel = "k", .metadata = {}};
}

// Four tile entries worked out by hand: exchange 50 cycles, compute 400,
// synchronisation none, idle 1000, over cycles 0 to 1000 at 2 MHz.
ProfileShape small_profile() {
  return {.schema_version = 2,
          .clock_hz = 2'000'000,
          .tiles = {{.physical_tile = 65,
                     .samples = {sample(ProfileStepKind::Compute, 0, 300), sample(ProfileStepKind::Idle, 300, 400)}},
                    {.physical_tile = 0, .samples = {sample(ProfileStepKind::Exchange, 10, 60)}},
                    {.physical_tile = 7, .samples = {}},
                    {.physical_tile = 1471,
                     .samples = {sample(ProfileStepKind::Compute, 0, 100), sample(ProfileStepKind::Idle, 100, 1000)}}}};
}

TEST(Summary, FiguresOfASmallProfile) {
  const Summary summary = summarize(decode(small_profile()), 2, "small.capnp");
  const ProfileStatistics& statistics = summary.statistics;
  EXPECT_EQ(statistics.tile_entries, 4u);
  EXPECT_EQ(statistics.samples, 5u);
  EXPECT_EQ(statistics.span_cycles(), 1000u);
  EXPECT_DOUBLE_EQ(statistics.span_microseconds().value(), 500.0);

  ASSERT_EQ(summary.kinds.size(), 4u);
  EXPECT_EQ(summary.kinds[0].cycles, 50u);
  EXPECT_EQ(summary.kinds[1].cycles, 400u);
  EXPECT_EQ(summary.kinds[2].cycles, 0u);
  EXPECT_EQ(summary.kinds[3].cycles, 1000u);
  EXPECT_DOUBLE_EQ(summary.kinds[1].share, 400.0 / 1450.0);
  EXPECT_EQ(summary.kinds[3].samples, 2u);
  EXPECT_EQ(summary.absent_kinds, std::vector{ProfileStepKind::Synchronization});

  ASSERT_EQ(summary.busiest.size(), 3u);
  EXPECT_EQ(summary.busiest[0].physical_tile, 65u);
  EXPECT_EQ(summary.busiest[0].location, (zlu_exchange::PhysicalLocation{1, 1}));
  EXPECT_EQ(summary.busiest[0].busy_cycles, 300u);
  EXPECT_EQ(summary.busiest[0].recorded_cycles, 400u);
  EXPECT_EQ(summary.busiest[1].physical_tile, 1471u);
  EXPECT_EQ(summary.busiest[1].location, (zlu_exchange::PhysicalLocation{22, 63}));
  EXPECT_EQ(summary.busiest[2].physical_tile, 0u);
  ASSERT_EQ(summary.idlest.size(), 3u);
  EXPECT_EQ(summary.idlest[0].physical_tile, 0u);
  EXPECT_EQ(summary.idlest[2].physical_tile, 65u);

  EXPECT_EQ(statistics.empty_tiles, std::vector<std::uint32_t>{7});
  EXPECT_EQ(render_ranges(statistics.missing_tiles), "1-6, 8-64, 66-1470");
}

TEST(Summary, TextCallsOutWhatIsMissing) {
  const std::string text = render_summary(summarize(decode(small_profile()), 2, "small.capnp"));
  EXPECT_NE(text.find("format version: 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("span: 1000 cycles, 500.000 µs\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  tile 65 (row 1, position 1): 300 busy cycles of 400 (75.0%)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("tiles without samples: 7\n"), std::string::npos) << text;
  EXPECT_NE(text.find("step kinds that never occur: synchronization\n"), std::string::npos) << text;
}

TEST(Summary, RankingsHoldFiveAndBreakTiesByPhysicalNumber) {
  ProfileShape shape{.schema_version = 3, .clock_hz = 0, .tiles = {}};
  for (std::uint32_t physical = 20; physical > 0; --physical) {
    shape.tiles.push_back({.physical_tile = physical,
                          .samples = {sample(ProfileStepKind::Compute, 0, physical % 2 == 0 ? 10 : 20)}});
  }
  const Summary summary = summarize(decode(shape), 3, "ties");
  std::vector<std::uint32_t> busiest;
  std::vector<std::uint32_t> idlest;
  for (const RankedTile& tile : summary.busiest) busiest.push_back(tile.physical_tile);
  for (const RankedTile& tile : summary.idlest) idlest.push_back(tile.physical_tile);
  EXPECT_EQ(busiest, (std::vector<std::uint32_t>{1, 3, 5, 7, 9}));
  EXPECT_EQ(idlest, (std::vector<std::uint32_t>{2, 4, 6, 8, 10}));
  EXPECT_EQ(summary.statistics.span_microseconds(), std::nullopt);
  EXPECT_NE(render_summary(summary).find("clock is 0 Hz"), std::string::npos);
}

TEST(Summary, DamagedProfileStillYieldsBoundedFigures) {
  ProfileShape shape{.schema_version = 3, .clock_hz = 1000, .tiles = {}};
  shape.tiles.push_back({.physical_tile = 5, .samples = {sample(ProfileStepKind::Compute, 100, 40)}});
  shape.tiles.push_back({.physical_tile = 5, .samples = {sample(ProfileStepKind::Idle, 0, 10)}});
  shape.tiles.push_back({.physical_tile = 4000, .samples = {sample(ProfileStepKind::Exchange, 0, 5)}});
  const Summary summary = summarize(decode(shape), 3, "damaged");
  const ProfileStatistics& statistics = summary.statistics;
  EXPECT_EQ(statistics.reversed_samples, 1u);
  EXPECT_EQ(statistics.kind_cycles[kind_index(ProfileStepKind::Compute)], 0u);
  EXPECT_EQ(statistics.span_cycles(), 100u);
  EXPECT_EQ(statistics.repeated_tiles, std::vector<std::uint32_t>{5});
  EXPECT_EQ(statistics.off_card_tiles, std::vector<std::uint32_t>{4000});
  ASSERT_EQ(statistics.tiles.size(), 2u);
  EXPECT_EQ(statistics.tiles[0].samples, 2u);
  ASSERT_EQ(summary.busiest.size(), 2u);
  EXPECT_EQ(summary.busiest[0].physical_tile, 4000u);
  EXPECT_EQ(summary.busiest[0].location, std::nullopt);

  const nlohmann::json json = summary_json(summary);
  EXPECT_EQ(json["busiest_tiles"][0]["row"], nullptr);
  EXPECT_EQ(json["repeated_tiles"], nlohmann::json::array({5}));
  EXPECT_EQ(json["reversed_samples"], 1);
  const std::string text = render_summary(summary);
  EXPECT_NE(text.find("tile 4000 (outside the card)"), std::string::npos) << text;
  EXPECT_NE(text.find("tiles with repeated entries: 5\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace zlu_profile
