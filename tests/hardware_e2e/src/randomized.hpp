// The tile sets of the randomized host round trips.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace hardware_e2e {

// Eight distinct tiles below 1472 drawn from a fresh generator seeded with
// `seed`; repeated draws are skipped until the set is full.
std::set<std::uint16_t> draw_host_round_trip_tiles(std::uint64_t seed);

// The tiles in ascending order, decimal, joined by ",".
std::string join_tiles(const std::set<std::uint16_t>& tiles);

}  // namespace hardware_e2e
