// Static D2D exchange graphs chosen by a seed, and a plain replay of them on
// host memory that the card's results are checked against.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <string_view>
#include <vector>

#include "card.hpp"
#include "program.hpp"
#include "runner.hpp"

namespace zlu_random {

inline constexpr std::string_view RUNNER = zlu_contract::RANDOMIZED_RUNNER;
inline constexpr std::string_view SEED_VARIABLE = zlu_contract::RANDOM_SEED;

// Every tile of a graph keeps its data in this window at the start of its
// SRAM; sources and receives both lie inside it.
inline constexpr std::uint32_t WINDOW_BYTES = 16 * 1024;
// Receives land in slots of this size, so receives of one phase never overlap.
inline constexpr std::uint32_t SLOT_BYTES = 1024;

struct RandomGraph {
  // A graph: the tiles it uses (distinct, ascending), the salt of their initial
  // data, and its exchange phases in order.

  std::vector<std::uint16_t> tiles;
  std::uint32_t salt = 0;
  std::vector<zlu_card::ExchangePhase> phases;
};

// ZLU_RANDOM_SEED: required, decimal unsigned 64-bit.
std::expected<std::uint64_t, zlu_runner::Failure> read_random_seed(const zlu_runner::EnvLookup& env);

// The graph of a seed: 3 to 6 phases over 16 to 128 tiles, each phase with
// up to 48 messages of 4 to 1024 bytes and 1 to 8 receivers. The same seed
// always gives the same graph.
RandomGraph make_random_graph(std::uint64_t seed, std::uint16_t tile_count);

// The initial window of a graph tile.
std::vector<std::byte> initial_window(std::uint16_t tile, std::uint32_t salt);

// The windows of every graph tile after all phases, computed on host memory.
std::map<std::uint16_t, std::vector<std::byte>> replay_on_host(const RandomGraph& graph);

// Runs the graph on `card`, then checks every receiving tile's window against
// the replay.
zlu_runner::Outcome run_random_graph(const RandomGraph& graph, zlu_card::Card& card);

}  // namespace zlu_random
