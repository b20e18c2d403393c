#include <cstdint>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "catalogue/catalogue.hpp"
#include "cards/device.hpp"
#include "launch/exit_status.hpp"
#include "harness/src/lib.hpp"
#include "launch/host_runner.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace hardware_e2e {

namespace {

// Every position of row 0, then position 17 of rows 1 to 22: together they
// name every row and every position of a host-route endpoint.
std::vector<std::uint16_t> endpoint_covering_physical_tiles() {
  using zlu_exchange::N700_ROW_TILES;
  using zlu_exchange::N700_ROWS;
  std::vector<std::uint16_t> tiles;
  for (std::uint16_t position = 0; position < N700_ROW_TILES; ++position) tiles.push_back(position);
  for (std::uint16_t row = 1; row < N700_ROWS; ++row) {
    tiles.push_back(static_cast<std::uint16_t>(row * N700_ROW_TILES + 17));
  }
  return tiles;
}

}  // namespace

void host_routes_cover_every_endpoint_field() {
  auto card = device();
  const auto topology = zlu_exchange::Topology::n700();
  std::vector<std::string> logical_tiles;
  for (std::uint16_t physical : endpoint_covering_physical_tiles()) {
    bool found = false;
    for (std::uint16_t logical = 0; logical < zlu_exchange::N700_TILES && !found; ++logical) {
      auto candidate = topology.physical(logical);
      if (!candidate) harness::fail(fmt::format("logical N700 tile {}: {}", logical, candidate.error()));
      if (*candidate == physical) {
        logical_tiles.push_back(fmt::format("{}", logical));
        found = true;
      }
    }
    if (!found) harness::fail("physical N700 tile must have a logical tile");
  }
  require_success("host routes spanning every endpoint field",
                  host_test(card, {{zlu_contract::HOST_TEST_TILES, fmt::format("{}", fmt::join(logical_tiles, ","))},
                             {zlu_contract::HOST_TEST_BYTES, "64"}}));
}

}  // namespace hardware_e2e
