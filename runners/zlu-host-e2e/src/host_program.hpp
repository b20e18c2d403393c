// The host exchange programs: H2D and D2H round trips and their compositions
// with compute and D2D relays, checked against the data the host sent or
// against a host-side replay of the card's computation.
#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "card.hpp"
#include "host_config.hpp"
#include "runner.hpp"

namespace zlu_host {

// For relaying programs: the tile that receives each source tile's data. The
// partners are distinct, differ from every source, and lie about half the
// card away; a configuration error when the card has too few tiles left.
std::expected<std::vector<std::uint16_t>, zlu_runner::Failure> relay_partners(const std::vector<std::uint16_t>& tiles,
                                                                              std::uint16_t tile_count);

// Runs `config` on `card`, waiting the jitter before each host write.
zlu_runner::Outcome run_host_program(const HostConfig& config, zlu_card::Card& card);

}  // namespace zlu_host
