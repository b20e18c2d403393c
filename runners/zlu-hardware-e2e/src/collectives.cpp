// The exchange-pattern scenarios: fanout, reduction, permutation, sparse
// compute followed by an all-tile exchange, and a multicast whose receiver
// sends in the same phase.
#include <numeric>

#include <fmt/format.h>

#include "graph_scenarios.hpp"
#include "scenario_support.hpp"

namespace zlu_graph {

using zlu_card::Card;
using zlu_card::ComputePhase;
using zlu_card::ComputeWork;
using zlu_card::Destination;
using zlu_card::ExchangePhase;
using zlu_card::TileSram;
using zlu_exchange::ExchangeError;
using zlu_runner::Outcome;

namespace {

constexpr std::uint32_t DATA_ADDRESS = 0x0;
constexpr std::uint32_t RECEIVE_ADDRESS = 0x1000;

// The all-tile permutation: t -> (t * 691 + 37) mod 1472. 691 is prime to
// 1472 = 2^6 * 23, so the map is one-to-one.
std::uint16_t permuted(std::uint16_t tile, std::uint16_t tiles) {
  return static_cast<std::uint16_t>((std::uint32_t{tile} * 691u + 37u) % tiles);
}

}  // namespace

Outcome run_fanout(Card& card) {
  constexpr std::uint16_t SOURCE = 5;
  constexpr std::size_t WORDS = 64;
  const std::vector<std::uint16_t> source{SOURCE};
  if (auto r = fill_with_pattern(card, "fanout-init", source, DATA_ADDRESS, WORDS, 1); !r)
    return std::unexpected(r.error());

  zlu_card::Transfer transfer{SOURCE, DATA_ADDRESS, WORDS * 4, {}};
  for (const std::uint16_t tile : all_tiles(card)) {
    if (tile != SOURCE) transfer.receivers.push_back({tile, RECEIVE_ADDRESS});
  }
  if (auto r = run_exchange(card, {"fanout", {transfer}}); !r) return std::unexpected(r.error());

  const auto expected = zlu_runner::pattern_words(SOURCE, WORDS, 1);
  for (const std::uint16_t tile : all_tiles(card)) {
    if (tile == SOURCE) continue;
    if (auto r = zlu_runner::check_words(card, "fanout buffer", tile, RECEIVE_ADDRESS, expected); !r) {
      return std::unexpected(r.error());
    }
  }
  if (auto r = zlu_runner::check_words(card, "fanout source", SOURCE, DATA_ADDRESS, expected); !r) {
    return std::unexpected(r.error());
  }
  return scenario_summary("fanout", card.tile_count(), card);
}

Outcome run_reduction(Card& card) {
  constexpr std::size_t WORDS = 16;
  constexpr std::uint32_t SALT = 2;
  const auto tiles = all_tiles(card);
  if (auto r = fill_with_pattern(card, "reduction-init", tiles, DATA_ADDRESS, WORDS, SALT); !r) {
    return std::unexpected(r.error());
  }
  // A binary tree: in round s, tile t (t mod 2s == s) sends its partial sum
  // to tile t - s, which adds it to its own.
  const std::uint16_t count = card.tile_count();
  for (std::uint32_t stride = 1; stride < count; stride *= 2) {
    ExchangePhase phase{fmt::format("reduction-round-{}", stride), {}};
    ComputePhase add{fmt::format("reduction-add-{}", stride), {}};
    for (std::uint32_t t = stride; t < count; t += 2 * stride) {
      const auto receiver = static_cast<std::uint16_t>(t - stride);
      phase.transfers.push_back(
          {static_cast<std::uint16_t>(t), DATA_ADDRESS, WORDS * 4, {{receiver, RECEIVE_ADDRESS}}});
      add.tasks.push_back({receiver, "add-partial", [](TileSram& sram) -> std::expected<ComputeWork, ExchangeError> {
                             std::vector<std::uint32_t> own(WORDS), incoming(WORDS);
                             if (auto r = zlu_card::load_words(sram, DATA_ADDRESS, own); !r)
                               return std::unexpected(r.error());
                             if (auto r = zlu_card::load_words(sram, RECEIVE_ADDRESS, incoming); !r)
                               return std::unexpected(r.error());
                             for (std::size_t i = 0; i < WORDS; ++i) own[i] += incoming[i];
                             if (auto r = zlu_card::store_words(sram, DATA_ADDRESS, own); !r)
                               return std::unexpected(r.error());
                             return ComputeWork{WORDS, {{"elements", std::to_string(WORDS)}}};
                           }});
    }
    if (auto r = run_exchange(card, phase); !r) return std::unexpected(r.error());
    if (auto r = run_compute(card, add); !r) return std::unexpected(r.error());
  }

  std::vector<std::uint32_t> expected(WORDS, 0);
  for (const std::uint16_t tile : tiles) {
    for (std::size_t i = 0; i < WORDS; ++i)
      expected[i] += zlu_runner::pattern_word(tile, static_cast<std::uint32_t>(i), SALT);
  }
  if (auto r = zlu_runner::check_words(card, "reduced sum", 0, DATA_ADDRESS, expected); !r)
    return std::unexpected(r.error());
  return scenario_summary("reduction", count, card);
}

Outcome run_permutation(Card& card) {
  constexpr std::size_t WORDS = 16;
  constexpr std::uint32_t SALT = 3;
  const auto tiles = all_tiles(card);
  const std::uint16_t count = card.tile_count();
  if (auto r = fill_with_pattern(card, "permutation-init", tiles, DATA_ADDRESS, WORDS, SALT); !r) {
    return std::unexpected(r.error());
  }
  ExchangePhase phase{"permutation", {}};
  for (const std::uint16_t tile : tiles) {
    phase.transfers.push_back({tile, DATA_ADDRESS, WORDS * 4, {{permuted(tile, count), RECEIVE_ADDRESS}}});
  }
  if (auto r = run_exchange(card, phase); !r) return std::unexpected(r.error());
  for (const std::uint16_t source : tiles) {
    const auto expected = zlu_runner::pattern_words(source, WORDS, SALT);
    if (auto r = zlu_runner::check_words(card, fmt::format("image of tile {}", source), permuted(source, count),
                                         RECEIVE_ADDRESS, expected);
        !r) {
      return std::unexpected(r.error());
    }
  }
  return scenario_summary("permutation", count, card);
}

Outcome run_reduction_permutation(Card& card) {
  constexpr std::size_t WORDS = 8;
  constexpr std::uint32_t SALT = 4;
  constexpr std::uint16_t SPARSE_STRIDE = 7;
  const auto tiles = all_tiles(card);
  const std::uint16_t count = card.tile_count();
  if (auto r = fill_with_pattern(card, "sparse-init", tiles, DATA_ADDRESS, WORDS, SALT); !r)
    return std::unexpected(r.error());

  // The sparse subset folds its words into a running sum, in place.
  ComputePhase sparse{"sparse-compute", {}};
  for (std::uint16_t tile = 0; tile < count; tile += SPARSE_STRIDE) {
    sparse.tasks.push_back({tile, "prefix-sum", [](TileSram& sram) -> std::expected<ComputeWork, ExchangeError> {
                              std::vector<std::uint32_t> words(WORDS);
                              if (auto r = zlu_card::load_words(sram, DATA_ADDRESS, words); !r)
                                return std::unexpected(r.error());
                              std::partial_sum(words.begin(), words.end(), words.begin());
                              if (auto r = zlu_card::store_words(sram, DATA_ADDRESS, words); !r)
                                return std::unexpected(r.error());
                              return ComputeWork{WORDS, {}};
                            }});
  }
  if (auto r = run_compute(card, sparse); !r) return std::unexpected(r.error());

  // Then every tile sends to the tile mirrored across the card.
  ExchangePhase phase{"dense-exchange", {}};
  for (const std::uint16_t tile : tiles) {
    phase.transfers.push_back(
        {tile, DATA_ADDRESS, WORDS * 4, {{static_cast<std::uint16_t>(count - 1 - tile), RECEIVE_ADDRESS}}});
  }
  if (auto r = run_exchange(card, phase); !r) return std::unexpected(r.error());

  for (const std::uint16_t source : tiles) {
    auto expected = zlu_runner::pattern_words(source, WORDS, SALT);
    if (source % SPARSE_STRIDE == 0) std::partial_sum(expected.begin(), expected.end(), expected.begin());
    if (auto r = zlu_runner::check_words(card, fmt::format("data of tile {}", source),
                                         static_cast<std::uint16_t>(count - 1 - source), RECEIVE_ADDRESS, expected);
        !r) {
      return std::unexpected(r.error());
    }
  }
  return scenario_summary("reduction-permutation", count, card);
}

Outcome run_multicast(Card& card) {
  constexpr std::size_t WORDS = 32;
  constexpr std::uint32_t SALT = 5;
  // Tile 10 multicasts over the data of tiles 11 to 20, and in the same phase
  // tile 11 multicasts its own data (as it was before the phase) to tiles 30
  // to 35, while tiles 40 and 41 swap their data.
  constexpr std::uint16_t ROOT = 10;
  constexpr std::uint16_t RELAY = 11;
  std::vector<std::uint16_t> tiles{ROOT, 40, 41};
  for (std::uint16_t t = 11; t <= 20; ++t) tiles.push_back(t);
  if (auto r = fill_with_pattern(card, "multicast-init", tiles, DATA_ADDRESS, WORDS, SALT); !r)
    return std::unexpected(r.error());

  zlu_card::Transfer from_root{ROOT, DATA_ADDRESS, WORDS * 4, {}};
  for (std::uint16_t t = 11; t <= 20; ++t) from_root.receivers.push_back({t, DATA_ADDRESS});
  zlu_card::Transfer from_relay{RELAY, DATA_ADDRESS, WORDS * 4, {}};
  for (std::uint16_t t = 30; t <= 35; ++t) from_relay.receivers.push_back({t, DATA_ADDRESS});
  ExchangePhase phase{"multicast",
                      {from_root,
                       from_relay,
                       {40, DATA_ADDRESS, WORDS * 4, {Destination{41, DATA_ADDRESS}}},
                       {41, DATA_ADDRESS, WORDS * 4, {Destination{40, DATA_ADDRESS}}}}};
  if (auto r = run_exchange(card, phase); !r) return std::unexpected(r.error());

  const auto root_data = zlu_runner::pattern_words(ROOT, WORDS, SALT);
  const auto relay_data = zlu_runner::pattern_words(RELAY, WORDS, SALT);
  for (std::uint16_t t = 11; t <= 20; ++t) {
    if (auto r = zlu_runner::check_words(card, "multicast from the root", t, DATA_ADDRESS, root_data); !r) {
      return std::unexpected(r.error());
    }
  }
  for (std::uint16_t t = 30; t <= 35; ++t) {
    if (auto r = zlu_runner::check_words(card, "relay's data from before the phase", t, DATA_ADDRESS, relay_data); !r) {
      return std::unexpected(r.error());
    }
  }
  if (auto r =
          zlu_runner::check_words(card, "swapped data", 40, DATA_ADDRESS, zlu_runner::pattern_words(41, WORDS, SALT));
      !r) {
    return std::unexpected(r.error());
  }
  if (auto r =
          zlu_runner::check_words(card, "swapped data", 41, DATA_ADDRESS, zlu_runner::pattern_words(40, WORDS, SALT));
      !r) {
    return std::unexpected(r.error());
  }
  return scenario_summary("multicast", tiles.size() + 6, card);
}

}  // namespace zlu_graph
