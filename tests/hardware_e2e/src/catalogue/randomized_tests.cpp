#include <array>
#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "catalogue/catalogue.hpp"
#include "cards/device.hpp"
#include "launch/exit_status.hpp"
#include "launch/host_runner.hpp"
#include "catalogue/randomized.hpp"
#include "catalogue/rng.hpp"
#include "launch/runner_command.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace hardware_e2e {

namespace {

constexpr std::array<std::uint64_t, 3> GRAPH_SEEDS = {0x5a4c552d53544143ULL, 0x6a09e667f3bcc909ULL,
                                                      0xbb67ae8584caa73bULL};

struct HostRoundTripCase {
  std::uint64_t seed;
  std::uint32_t bytes;
};

constexpr std::array<HostRoundTripCase, 3> HOST_CASES = {{
    {0x243f6a8885a308d3ULL, 4},
    {0x13198a2e03707344ULL, 1024},
    {0xa4093822299f31d0ULL, 8192},
}};

constexpr std::size_t HOST_ROUND_TRIP_TILES = 8;

}  // namespace

std::set<std::uint16_t> draw_host_round_trip_tiles(std::uint64_t seed) {
  Rng rng = Rng::with_seed(seed);
  std::set<std::uint16_t> tiles;
  while (tiles.size() < HOST_ROUND_TRIP_TILES) tiles.insert(rng.u16(0, zlu_exchange::N700_TILES));
  return tiles;
}

std::string join_tiles(const std::set<std::uint16_t>& tiles) {
  return fmt::format("{}", fmt::join(tiles, ","));
}

void randomized_static_d2d_graphs_work() {
  auto card = device();
  for (std::uint64_t seed : GRAPH_SEEDS) {
    const std::string capability = fmt::format("randomized exchange graph seed {:#x}", seed);
    RunnerCommand command = runner_command(RANDOMIZED_RUNNER, card);
    command.add_env(zlu_contract::RANDOM_SEED, fmt::format("{}", seed));
    require_success(capability, run_or_fail(command, "launch randomized hardware test runner"));
  }
}

void randomized_multi_tile_host_round_trips_work() {
  auto card = device();
  for (const auto& [seed, bytes] : HOST_CASES) {
    const std::string tile_list = join_tiles(draw_host_round_trip_tiles(seed));
    const std::string capability =
        fmt::format("randomized host round trip seed={:#x} bytes={} tiles={}", seed, bytes, tile_list);
    require_success(capability, host_test(card, {{zlu_contract::HOST_TEST_TILES, tile_list},
                                                 {zlu_contract::HOST_TEST_BYTES, fmt::format("{}", bytes)}}));
  }
}

}  // namespace hardware_e2e
