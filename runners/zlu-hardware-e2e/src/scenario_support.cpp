#include "scenario_support.hpp"

#include <fmt/format.h>

namespace zlu_graph {

std::vector<std::uint16_t> all_tiles(const zlu_card::Card& card) {
  std::vector<std::uint16_t> tiles(card.tile_count());
  for (std::uint16_t t = 0; t < card.tile_count(); ++t) tiles[t] = t;
  return tiles;
}

std::expected<void, Failure> fill_with_pattern(zlu_card::Card& card, std::string_view phase,
                                               std::span<const std::uint16_t> tiles, std::uint32_t address,
                                               std::size_t words, std::uint32_t salt) {
  zlu_card::ComputePhase fill{std::string(phase), {}};
  fill.tasks.reserve(tiles.size());
  for (const std::uint16_t tile : tiles) {
    fill.tasks.push_back({tile, "fill-pattern",
                          [tile, address, words, salt](zlu_card::TileSram& sram)
                              -> std::expected<zlu_card::ComputeWork, zlu_exchange::ExchangeError> {
                            const auto data = zlu_runner::pattern_words(tile, words, salt);
                            if (auto stored = zlu_card::store_words(sram, address, data); !stored) {
                              return std::unexpected(stored.error());
                            }
                            return zlu_card::ComputeWork{words, {}};
                          }});
  }
  return run_compute(card, fill);
}

std::expected<void, Failure> run_exchange(zlu_card::Card& card, const zlu_card::ExchangePhase& phase) {
  if (auto done = card.exchange(phase); !done) {
    return std::unexpected(zlu_runner::card_failure(fmt::format("exchange phase {}", phase.name), done.error()));
  }
  return {};
}

std::expected<void, Failure> run_compute(zlu_card::Card& card, const zlu_card::ComputePhase& phase) {
  if (auto done = card.compute(phase); !done) {
    return std::unexpected(zlu_runner::card_failure(fmt::format("compute phase {}", phase.name), done.error()));
  }
  return {};
}

std::string scenario_summary(std::string_view scenario, std::uint64_t tiles, const zlu_card::Card& card) {
  return zlu_runner::summary_line(scenario, tiles, card.exchanged_bytes() + card.host_bytes(), card.elapsed_cycles());
}

}  // namespace zlu_graph
