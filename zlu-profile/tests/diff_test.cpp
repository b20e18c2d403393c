// `zlu-profile diff`: the pairing of tiles and their ranking, and the tool on
// two profiles the GEMM runner wrote, one with a slower exchange.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "diff.hpp"
#include "profile_builder.hpp"
#include "tool.hpp"

namespace zlu_profile {
namespace {

using testing::SampleSpec;
using testing::TileSpec;
using zlu_package::ProfileStepKind;

ProfileStatistics statistics_of(std::vector<TileSpec> tiles) {
  return compute_statistics(testing::decode({.schema_version = 3, .clock_hz = 1, .tiles = std::move(tiles)}));
}

TileSpec tile(std::uint32_t physical, std::uint32_t exchange_cycles) {
  SampleSpec sample;
  sample.end_cycle = exchange_cycles;
  return {physical, {sample}};
}

TEST(ProfileDiff, RanksTilesByTheSizeOfTheirChangeEitherWayAndPairsTilesOfOneSide) {
  // Tile 3 only in the old profile, tile 9 only in the new, tile 5000 off the card.
  const ProfileDiff diff = diff_profiles(
      statistics_of({tile(1, 100), tile(2, 100), tile(3, 40), tile(4, 100), tile(6, 100), tile(7, 100), tile(5000, 10)}),
      statistics_of({tile(1, 100), tile(2, 130), tile(4, 60), tile(6, 101), tile(7, 70), tile(9, 30), tile(5000, 11)}),
      "a", "b");
  std::vector<std::pair<std::uint32_t, std::int64_t>> ranked;
  for (const TileMove& move : diff.moved_tiles[kind_index(ProfileStepKind::Exchange)])
    ranked.emplace_back(move.physical_tile, move.cycles.change());
  // 4 moved by 40 and 3 by 40 too: the lower number first; then 2, 7 and 9
  // by 30; five at most, so 6 and 5000 (by 1) are left out.
  EXPECT_EQ(ranked, (std::vector<std::pair<std::uint32_t, std::int64_t>>{{3, -40}, {4, -40}, {2, 30}, {7, -30}, {9, 30}}));
  EXPECT_EQ(diff.kinds[kind_index(ProfileStepKind::Exchange)].old_cycles, 550u);
  EXPECT_EQ(diff.kinds[kind_index(ProfileStepKind::Exchange)].new_cycles, 502u);
  EXPECT_TRUE(diff.moved_tiles[kind_index(ProfileStepKind::Compute)].empty());

  const ProfileDiff off_card = diff_profiles(statistics_of({tile(5000, 10)}), statistics_of({tile(5000, 12)}), "a", "b");
  EXPECT_NE(render_diff(off_card).find("    tile 5000 (outside the card): 10 -> 12 (+2, +20.0%)\n"), std::string::npos)
      << render_diff(off_card);
}

// Runs the GEMM runner of this build to write its profile at `path`, with
// `fault` as its ZLU_SIM_FAULT when not empty.
void write_gemm_profile(const std::filesystem::path& path, const std::string& fault) {
  std::vector<std::string> environment = {"ZLU_PROFILE_OUTPUT=" + path.string()};
  if (!fault.empty()) environment.push_back("ZLU_SIM_FAULT=" + fault);
  const auto run = testing::run_program("/usr/bin/env", [&] {
    std::vector<std::string> arguments = environment;
    arguments.emplace_back(ZLU_GEMM_RUNNER);
    return arguments;
  }());
  ASSERT_EQ(run.exit_code, 0) << run.err;
}

TEST(ProfileDiff, TheToolShowsWhereASlowerExchangeMovedTheCycles) {
  const testing::ScratchDir scratch;
  write_gemm_profile(scratch / "old.capnp", "");
  write_gemm_profile(scratch / "new.capnp", "zlu-gemm-e2e:slow-exchange=10");
  const std::string old_file = (scratch / "old.capnp").string();
  const std::string new_file = (scratch / "new.capnp").string();

  const auto run = testing::run_tool({"diff", old_file, new_file, "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const nlohmann::json diff = nlohmann::json::parse(run.out);
  // The totals are the summary's of each file.
  const nlohmann::json old_summary = nlohmann::json::parse(testing::run_tool({"summary", old_file, "--json"}).out);
  const nlohmann::json new_summary = nlohmann::json::parse(testing::run_tool({"summary", new_file, "--json"}).out);
  for (std::size_t k = 0; k < STEP_KINDS.size(); ++k) {
    EXPECT_EQ(diff["kinds"][k]["old"], old_summary["kinds"][k]["cycles"]) << k;
    EXPECT_EQ(diff["kinds"][k]["new"], new_summary["kinds"][k]["cycles"]) << k;
  }
  const std::uint64_t old_exchange = diff["kinds"][0]["old"];
  const std::uint64_t new_exchange = diff["kinds"][0]["new"];
  // Each exchange step grew by 10%, rounded up on its own.
  EXPECT_GE(new_exchange * 10, old_exchange * 11);
  EXPECT_LT(new_exchange * 10, old_exchange * 11 + 10 * 1472 * 64);
  EXPECT_EQ(diff["kinds"][1]["change"], 0);
  EXPECT_EQ(diff["kinds"][2]["change"], 0);
  EXPECT_GT(diff["span"]["change"], 0);

  const nlohmann::json& moved = diff["moved_tiles"]["exchange"];
  ASSERT_EQ(moved.size(), 5u);
  for (std::size_t i = 0; i < moved.size(); ++i) {
    const auto physical = moved[i]["physical_tile"].get<std::uint16_t>();
    const auto location = zlu_exchange::physical_location(physical);
    EXPECT_EQ(moved[i]["row"], location.row);
    EXPECT_EQ(moved[i]["position"], location.position);
    if (i > 0) {
      EXPECT_LE(moved[i]["change"].get<std::int64_t>(), moved[i - 1]["change"].get<std::int64_t>());
    }
  }
  EXPECT_TRUE(diff["moved_tiles"]["compute"].empty());
}

}  // namespace
}  // namespace zlu_profile
