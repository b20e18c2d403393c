#include <gtest/gtest.h>

#include <cstring>

#include "random_graph.hpp"

namespace {

constexpr std::uint64_t TEST_SEEDS[] = {0x5a4c552d53544143, 0x6a09e667f3bcc909, 0xbb67ae8584caa73b, 0, 1, 42};

TEST(RandomGraph, TheSameSeedGivesTheSameValidGraph) {
  for (const std::uint64_t seed : TEST_SEEDS) {
    const auto a = zlu_random::make_random_graph(seed, 1472);
    const auto b = zlu_random::make_random_graph(seed, 1472);
    ASSERT_EQ(a.tiles, b.tiles);
    ASSERT_EQ(a.phases.size(), b.phases.size());
    EXPECT_GE(a.phases.size(), 3u);
    EXPECT_LE(a.phases.size(), 6u);
    for (std::size_t p = 0; p < a.phases.size(); ++p) {
      ASSERT_EQ(a.phases[p].transfers.size(), b.phases[p].transfers.size());
      for (std::size_t t = 0; t < a.phases[p].transfers.size(); ++t) {
        EXPECT_EQ(a.phases[p].transfers[t].receivers, b.phases[p].transfers[t].receivers);
      }
    }
  }
  EXPECT_NE(zlu_random::make_random_graph(1, 1472).tiles, zlu_random::make_random_graph(2, 1472).tiles);
}

TEST(RandomGraph, RunsOnASoundCardForEverySeed) {
  for (const std::uint64_t seed : TEST_SEEDS) {
    zlu_card::Card card;
    const auto outcome = zlu_random::run_random_graph(zlu_random::make_random_graph(seed, card.tile_count()), card);
    EXPECT_TRUE(outcome.has_value()) << seed << ": " << outcome.error().message;
  }
}

TEST(RandomGraph, ReplaySendsWhatSourcesHeldBeforeThePhase) {
  zlu_random::RandomGraph graph;
  graph.tiles = {3, 9};
  graph.salt = 77;
  graph.phases.push_back({"swap", {{3, 0, 8, {{9, 0}}}, {9, 0, 8, {{3, 0}}}}});
  const auto memory = zlu_random::replay_on_host(graph);
  const auto three = zlu_random::initial_window(3, 77);
  const auto nine = zlu_random::initial_window(9, 77);
  EXPECT_EQ(std::memcmp(memory.at(3).data(), nine.data(), 8), 0);
  EXPECT_EQ(std::memcmp(memory.at(9).data(), three.data(), 8), 0);
  EXPECT_EQ(std::memcmp(memory.at(3).data() + 8, three.data() + 8, three.size() - 8), 0);
}

TEST(RandomGraph, ABrokenCardFailsTheCheck) {
  zlu_card::CardFaults wrong_route, off_by_one, receive_before_send;
  wrong_route.wrong_route = true;
  off_by_one.address_off_by_one = true;
  receive_before_send.receive_before_send = true;
  for (const auto& faults : {wrong_route, off_by_one, receive_before_send}) {
    // A fault need not show in every graph, but it must in most of them.
    int caught = 0;
    for (const std::uint64_t seed : TEST_SEEDS) {
      zlu_card::CardOptions options;
      options.faults = faults;
      zlu_card::Card card(options);
      const auto outcome = zlu_random::run_random_graph(zlu_random::make_random_graph(seed, card.tile_count()), card);
      if (!outcome) {
        EXPECT_EQ(outcome.error().code, zlu_runner::ExitCode::CheckFailed);
        ++caught;
      }
    }
    EXPECT_GE(caught, 5);
  }
}

TEST(RandomGraph, SeedMustBeDecimal) {
  const auto read = [](const char* value) {
    return zlu_random::read_random_seed([value](std::string_view) -> std::optional<std::string> {
      if (value == nullptr) return std::nullopt;
      return std::string(value);
    });
  };
  EXPECT_EQ(*read("13503953896175478587"), 13503953896175478587u);
  for (const char* bad : {static_cast<const char*>(nullptr), "", "0x10", "-1", "18446744073709551616"}) {
    const auto seed = read(bad);
    ASSERT_FALSE(seed.has_value());
    EXPECT_NE(seed.error().message.find("ZLU_RANDOM_SEED"), std::string::npos);
  }
}

}  // namespace
