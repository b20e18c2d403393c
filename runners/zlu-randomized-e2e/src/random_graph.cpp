#include "random_graph.hpp"

#include <algorithm>
#include <cstring>
#include <set>

#include <fmt/format.h>

#include "zlu-base/src/splitmix64.hpp"

namespace zlu_random {

using zlu_card::Card;
using zlu_card::ComputeWork;
using zlu_card::TileSram;
using zlu_exchange::ExchangeError;

namespace {

// The graph generator, separate from everything the card uses.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}
  std::uint64_t next() { return rng_.next(); }
  std::uint32_t between(std::uint32_t low, std::uint32_t high) {
    return static_cast<std::uint32_t>(rng_.between(low, high));
  }

 private:
  zlu_base::SplitMix64 rng_;
};

constexpr std::uint32_t SLOTS = WINDOW_BYTES / SLOT_BYTES;

}  // namespace

std::expected<std::uint64_t, zlu_runner::Failure> read_random_seed(const zlu_runner::EnvLookup& env) {
  const auto value = env(SEED_VARIABLE);
  if (!value) {
    return std::unexpected(zlu_runner::Failure::config(
        fmt::format("{} is not set: expected a decimal unsigned 64-bit seed", SEED_VARIABLE)));
  }
  return zlu_runner::parse_unsigned(SEED_VARIABLE, *value, UINT64_MAX, false);
}

RandomGraph make_random_graph(std::uint64_t seed, std::uint16_t tile_count) {
  Generator rng(seed);
  RandomGraph graph;
  graph.salt = static_cast<std::uint32_t>(rng.next());
  std::set<std::uint16_t> chosen;
  const std::uint32_t wanted = rng.between(16, 128);
  while (chosen.size() < wanted) chosen.insert(static_cast<std::uint16_t>(rng.between(0, tile_count - 1u)));
  graph.tiles.assign(chosen.begin(), chosen.end());
  const auto pick_tile = [&] {
    return graph.tiles[rng.between(0, static_cast<std::uint32_t>(graph.tiles.size() - 1))];
  };

  const std::uint32_t phases = rng.between(3, 6);
  for (std::uint32_t p = 0; p < phases; ++p) {
    zlu_card::ExchangePhase phase{fmt::format("random-phase-{}", p), {}};
    std::set<std::pair<std::uint16_t, std::uint32_t>> used_slots;
    const std::uint32_t messages = rng.between(1, 48);
    for (std::uint32_t m = 0; m < messages; ++m) {
      const std::uint32_t bytes = 4 * rng.between(1, SLOT_BYTES / 4);
      zlu_card::Transfer transfer{pick_tile(), 4 * rng.between(0, (WINDOW_BYTES - bytes) / 4), bytes, {}};
      const std::uint32_t receivers = rng.between(1, 8);
      for (std::uint32_t r = 0; r < receivers; ++r) {
        const std::uint16_t tile = pick_tile();
        const std::uint32_t slot = rng.between(0, SLOTS - 1);
        const bool repeated = std::any_of(transfer.receivers.begin(), transfer.receivers.end(),
                                          [&](const zlu_card::Destination& d) { return d.tile == tile; });
        if (repeated || !used_slots.insert({tile, slot}).second) continue;
        // Anywhere in the slot that leaves room for the message.
        const std::uint32_t shift = 4 * rng.between(0, (SLOT_BYTES - bytes) / 4);
        transfer.receivers.push_back({tile, slot * SLOT_BYTES + shift});
      }
      if (!transfer.receivers.empty()) phase.transfers.push_back(std::move(transfer));
    }
    if (!phase.transfers.empty()) graph.phases.push_back(std::move(phase));
  }
  return graph;
}

std::vector<std::byte> initial_window(std::uint16_t tile, std::uint32_t salt) {
  const auto words = zlu_runner::pattern_words(tile, WINDOW_BYTES / 4, salt);
  std::vector<std::byte> window(WINDOW_BYTES);
  std::memcpy(window.data(), words.data(), WINDOW_BYTES);
  return window;
}

std::map<std::uint16_t, std::vector<std::byte>> replay_on_host(const RandomGraph& graph) {
  std::map<std::uint16_t, std::vector<std::byte>> memory;
  for (const std::uint16_t tile : graph.tiles) memory[tile] = initial_window(tile, graph.salt);
  for (const auto& phase : graph.phases) {
    std::vector<std::vector<std::byte>> payloads;
    for (const auto& transfer : phase.transfers) {
      const auto& source = memory.at(transfer.source_tile);
      payloads.emplace_back(source.begin() + transfer.source_address,
                            source.begin() + transfer.source_address + transfer.bytes);
    }
    for (std::size_t i = 0; i < phase.transfers.size(); ++i) {
      for (const auto& receiver : phase.transfers[i].receivers) {
        std::copy(payloads[i].begin(), payloads[i].end(), memory.at(receiver.tile).begin() + receiver.address);
      }
    }
  }
  return memory;
}

zlu_runner::Outcome run_random_graph(const RandomGraph& graph, Card& card) {
  zlu_card::ComputePhase init{"random-init", {}};
  for (const std::uint16_t tile : graph.tiles) {
    init.tasks.push_back({tile, "initialise-window",
                          [tile, salt = graph.salt](TileSram& sram) -> std::expected<ComputeWork, ExchangeError> {
                            if (auto r = sram.write(0, initial_window(tile, salt)); !r)
                              return std::unexpected(r.error());
                            return ComputeWork{WINDOW_BYTES / 4, {}};
                          }});
  }
  if (auto done = card.compute(init); !done) return std::unexpected(zlu_runner::card_failure(init.name, done.error()));
  for (const auto& phase : graph.phases) {
    if (auto done = card.exchange(phase); !done) {
      return std::unexpected(zlu_runner::card_failure(fmt::format("exchange phase {}", phase.name), done.error()));
    }
  }

  std::set<std::uint16_t> receiving;
  for (const auto& phase : graph.phases) {
    for (const auto& transfer : phase.transfers) {
      for (const auto& receiver : transfer.receivers) receiving.insert(receiver.tile);
    }
  }
  const auto expected = replay_on_host(graph);
  for (const std::uint16_t tile : receiving) {
    const auto& window = expected.at(tile);
    std::vector<std::uint32_t> words(WINDOW_BYTES / 4);
    std::memcpy(words.data(), window.data(), WINDOW_BYTES);
    if (auto checked = zlu_runner::check_words(card, "window after the graph", tile, 0, words); !checked) {
      return std::unexpected(checked.error());
    }
  }
  std::size_t messages = 0;
  for (const auto& phase : graph.phases) messages += phase.transfers.size();
  return fmt::format("{} phases={} messages={} receiving_tiles={}",
                     zlu_runner::summary_line("random-graph", graph.tiles.size(),
                                              card.exchanged_bytes() + card.host_bytes(), card.elapsed_cycles()),
                     graph.phases.size(), messages, receiving.size());
}

}  // namespace zlu_random
