#include <gtest/gtest.h>

#include "graph_scenarios.hpp"
#include "segment_allocator.hpp"

namespace {

using zlu_card::Card;
using zlu_card::CardFaults;
using zlu_graph::GraphScenario;

class EveryScenario : public testing::TestWithParam<zlu_graph::ScenarioName> {};

TEST_P(EveryScenario, PassesOnASoundCardAndIsNamedInItsSummary) {
  Card card;
  const auto outcome = zlu_graph::run_graph_scenario(GetParam().scenario, card);
  ASSERT_TRUE(outcome.has_value()) << outcome.error().message;
  EXPECT_TRUE(outcome->starts_with(fmt::format("scenario={} ", GetParam().name))) << *outcome;
  EXPECT_GT(card.elapsed_cycles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Graph, EveryScenario, testing::ValuesIn(zlu_graph::SCENARIOS), [](const auto& info) {
  std::string name(info.param.name);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

CardFaults faults(bool wrong_route, bool address_off_by_one, bool receive_before_send) {
  CardFaults f;
  f.wrong_route = wrong_route;
  f.address_off_by_one = address_off_by_one;
  f.receive_before_send = receive_before_send;
  return f;
}

struct FaultCase {
  const char* label;
  CardFaults faults;
  GraphScenario scenario;
};

class BrokenCard : public testing::TestWithParam<FaultCase> {};

TEST_P(BrokenCard, MakesTheMatchingScenarioFailItsCheck) {
  zlu_card::CardOptions options;
  options.faults = GetParam().faults;
  Card card(options);
  const auto outcome = zlu_graph::run_graph_scenario(GetParam().scenario, card);
  ASSERT_FALSE(outcome.has_value()) << *outcome;
  EXPECT_EQ(outcome.error().code, zlu_runner::ExitCode::CheckFailed);
  EXPECT_NE(outcome.error().message.find("tile "), std::string::npos) << outcome.error().message;
}

INSTANTIATE_TEST_SUITE_P(
    Graph, BrokenCard,
    testing::Values(FaultCase{"wrong_route_permutation", faults(true, false, false), GraphScenario::Permutation},
                    FaultCase{"wrong_route_fanout", faults(true, false, false), GraphScenario::Fanout},
                    FaultCase{"wrong_route_reduction", faults(true, false, false), GraphScenario::Reduction},
                    FaultCase{"off_by_one_fanout", faults(false, true, false), GraphScenario::Fanout},
                    FaultCase{"off_by_one_segmented_add", faults(false, true, false),
                              GraphScenario::CompilerSegmentedAdd},
                    FaultCase{"receive_before_send_multicast", faults(false, false, true), GraphScenario::Multicast}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(GraphScenario, ConfigurationNamesTheVariableAndValue) {
  const auto unset = zlu_graph::read_graph_scenario([](std::string_view) { return std::nullopt; });
  ASSERT_FALSE(unset.has_value());
  EXPECT_EQ(unset.error().code, zlu_runner::ExitCode::ConfigInvalid);
  const auto unknown = zlu_graph::read_graph_scenario([](std::string_view) { return std::string("Fanout"); });
  ASSERT_FALSE(unknown.has_value());
  EXPECT_NE(unknown.error().message.find("ZLU_GRAPH_TEST=\"Fanout\""), std::string::npos);
  EXPECT_EQ(*zlu_graph::read_graph_scenario([](std::string_view) { return std::string("reduction-permutation"); }),
            GraphScenario::ReductionPermutation);
}

TEST(SegmentAllocator, SplitsTensorsAtArenaBoundaries) {
  zlu_graph::SegmentAllocator allocator;
  const auto first = allocator.allocate(160 * 1024);
  const auto second = allocator.allocate(160 * 1024);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, (zlu_graph::Placement{{0, 0, 0x20000}, {0x20000, 0x20000, 0x8000}}));
  EXPECT_EQ(*second, (zlu_graph::Placement{{0, 0x28000, 0x18000}, {0x18000, 0x40000, 0x10000}}));
  for (const auto& placement : {*first, *second}) {
    for (const auto& segment : placement) {
      EXPECT_EQ(segment.address / zlu_card::ARENA_BYTES, (segment.address + segment.bytes - 1) / zlu_card::ARENA_BYTES);
    }
  }
  const auto pieces = zlu_graph::align_segments({*first, *second});
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1].tensor_offset, 0x18000u);
  EXPECT_EQ(pieces[1].addresses, (std::vector<std::uint32_t>{0x18000, 0x40000}));
  std::uint32_t covered = 0;
  for (const auto& piece : pieces) covered += piece.bytes;
  EXPECT_EQ(covered, 160u * 1024);

  EXPECT_TRUE(allocator.allocate(0x80000 - 0x50000 + 4).error().is<zlu_exchange::ExchangeError::Schedule>());
  EXPECT_TRUE(allocator.allocate(0x80000 - 0x50000).has_value());
  EXPECT_TRUE(allocator.allocate(6).error().is<zlu_exchange::ExchangeError::Count>());
}

}  // namespace
