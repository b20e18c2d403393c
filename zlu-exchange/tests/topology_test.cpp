#include "lib.hpp"

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace zlu_exchange {
namespace {

TEST(Topology, WorkedValuesOfTheConversion) {
  struct Case { std::uint16_t logical, physical; };
  // One row per step of the serpentine: lanes, the bottom turn, odd blocks, groups.
  constexpr std::array cases{Case{0, 0},     Case{1, 2},     Case{2, 64},    Case{44, 1408},
                             Case{45, 1410}, Case{46, 1409}, Case{47, 1411}, Case{90, 1},
                             Case{92, 4},    Case{458, 17},  Case{1471, 63}};
  const auto topology = Topology::n700();
  for (const auto& c : cases) {
    EXPECT_EQ(n700_logical_to_physical(c.logical), c.physical) << "logical " << c.logical;
    EXPECT_EQ(topology.physical(c.logical), c.physical) << "logical " << c.logical;
  }
}

TEST(Topology, ConversionIsOneToOneOntoTheCard) {
  const auto topology = Topology::n700();
  ASSERT_EQ(topology.tile_count(), 1472);
  std::set<std::uint16_t> seen;
  for (std::uint16_t logical = 0; logical < 1472; ++logical) {
    const auto physical = topology.physical(logical);
    ASSERT_TRUE(physical.has_value());
    ASSERT_LT(*physical, 1472);
    seen.insert(*physical);
  }
  EXPECT_EQ(seen.size(), 1472u);
}

TEST(Topology, NumbersOutsideTheCardAreTileErrors) {
  const auto topology = Topology::n700();
  EXPECT_EQ(topology.physical(1472).error(), ExchangeError(ExchangeError::Tile{1472}));
  EXPECT_EQ(topology.physical(1472).error().render(), "Tile(1472)");
  EXPECT_EQ(topology.physical(65535).error().render(), "Tile(65535)");
}

TEST(Topology, UncheckedFormulaDoesNotOverflow) {
  EXPECT_EQ(n700_logical_to_physical(65535), 3810);
  EXPECT_EQ(n700_logical_to_physical(1472), 64);
}

TEST(Topology, PhysicalLocationSplitsRowAndPosition) {
  EXPECT_EQ(physical_location(0), (PhysicalLocation{0, 0}));
  EXPECT_EQ(physical_location(1425), (PhysicalLocation{22, 17}));
  EXPECT_EQ(physical_location(1471), (PhysicalLocation{22, 63}));
  for (std::uint16_t physical = 0; physical < 1472; ++physical) {
    ASSERT_EQ(physical_at(physical_location(physical)), physical);
  }
}

}  // namespace
}  // namespace zlu_exchange
