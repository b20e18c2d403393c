// The tile sets of the randomized host round trips.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace hardware_e2e {

std::set<std::uint16_t> draw_host_round_trip_tiles(std::uint64_t seed);
// Eight distinct tiles below 1472 drawn from a fresh generator seeded with
// `seed`; repeated draws are skipped until the set is full.

std::string join_tiles(const std::set<std::uint16_t>& tiles);
// The tiles in ascending order, decimal, joined by ",".

}  // namespace hardware_e2e
