// Pieces the graph scenarios share: putting known data on tiles, running a
// phase and reporting.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "card.hpp"
#include "runner.hpp"

namespace zlu_graph {

using zlu_runner::Failure;

// Every logical tile of the card, in order.
std::vector<std::uint16_t> all_tiles(const zlu_card::Card& card);

// One compute phase in which each listed tile writes pattern_words(tile,
// words, salt) at `address` into its own SRAM.
std::expected<void, Failure> fill_with_pattern(zlu_card::Card& card, std::string_view phase,
                                               std::span<const std::uint16_t> tiles, std::uint32_t address,
                                               std::size_t words, std::uint32_t salt);

// Runs a phase; an error of the card becomes a failed check naming the phase.
std::expected<void, Failure> run_exchange(zlu_card::Card& card, const zlu_card::ExchangePhase& phase);
std::expected<void, Failure> run_compute(zlu_card::Card& card, const zlu_card::ComputePhase& phase);

// The success summary of a scenario that used `tiles` tiles.
std::string scenario_summary(std::string_view scenario, std::uint64_t tiles, const zlu_card::Card& card);

}  // namespace zlu_graph
