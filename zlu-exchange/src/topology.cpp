#include "lib.hpp"

namespace zlu_exchange {

Topology Topology::n700() {
  std::vector<std::uint16_t> table(N700_TILES);
  for (std::uint16_t logical = 0; logical < N700_TILES; ++logical) {
    table[logical] = n700_logical_to_physical(logical);
  }
  return Topology(std::move(table));
}

std::expected<std::uint16_t, ExchangeError> Topology::physical(std::uint16_t logical) const {
  if (logical >= logical_to_physical_.size()) {
    return std::unexpected(ExchangeError(ExchangeError::Tile{logical}));
  }
  return logical_to_physical_[logical];
}

}  // namespace zlu_exchange
