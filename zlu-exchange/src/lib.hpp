// The N700 card's tile numbering and the exchange library's error vocabulary.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <fmt/format.h>

namespace zlu_exchange {

// Shape of the N700 card: 23 rows of 64 tiles.
inline constexpr std::uint16_t N700_ROWS = 23;
inline constexpr std::uint16_t N700_ROW_TILES = 64;
inline constexpr std::uint16_t N700_TILES = N700_ROWS * N700_ROW_TILES;

// An error of the exchange: a value, never thrown. The seven variants and
// their order are part of the interface; so is `render()`, which prints the
// variant name followed by its payload in parentheses, e.g. "Tile(1472)".
class ExchangeError {
public:
  // A tile number outside the card.
  struct Tile { std::uint16_t tile; };
  // A tile named twice where tiles must be distinct.
  struct DuplicateTile {};
  // A byte or element count that is zero, unaligned or too large.
  struct Count { std::uint32_t count; };
  // Overlapping receives on one tile in one phase, or an empty receiver set.
  struct ReceiverSet {};
  // A program that cannot be scheduled; the reason is static text.
  struct Schedule { std::string_view reason; };
  // An SRAM address range outside the tile.
  struct Address { std::uint32_t address; };
  // A host transfer that does not fit a host packet or route.
  struct HostPacket {};

  using Variant = std::variant<Tile, DuplicateTile, Count, ReceiverSet, Schedule, Address, HostPacket>;

  template <typename V>
    requires std::is_constructible_v<Variant, V>
  constexpr ExchangeError(V value) : value_(value) {}

  const Variant& value() const { return value_; }
  template <typename V> bool is() const { return std::holds_alternative<V>(value_); }
  template <typename V> const V* get_if() const { return std::get_if<V>(&value_); }

  // The diagnostic rendering: "Tile(1472)", "DuplicateTile", "Schedule(\"reason\")".
  std::string render() const;

  friend bool operator==(const ExchangeError& a, const ExchangeError& b);

private:
  Variant value_;
};

// Where a physical tile sits on the card.
struct PhysicalLocation {
  std::uint16_t row;       // 0 to 22
  std::uint16_t position;  // 0 to 63
  friend bool operator==(const PhysicalLocation&, const PhysicalLocation&) = default;
};

// The physical number of a logical tile by the N700 formulas. Unchecked: every
// 16-bit input gives a result without overflow, but only 0 to 1471 are tiles.
constexpr std::uint16_t n700_logical_to_physical(std::uint16_t logical) {
  const std::uint32_t pair = logical / 2u;
  const std::uint32_t lane = logical % 2u;
  const std::uint32_t block = pair / N700_ROWS;
  const std::uint32_t row = block % 2u == 0 ? pair % N700_ROWS : (N700_ROWS - 1u) - pair % N700_ROWS;
  const std::uint32_t column = (block / 2u) * 4u + block % 2u;
  return static_cast<std::uint16_t>(row * N700_ROW_TILES + column + lane * 2u);
}

// Row and position of a physical tile number (physical = row * 64 + position).
constexpr PhysicalLocation physical_location(std::uint16_t physical) {
  return {static_cast<std::uint16_t>(physical / N700_ROW_TILES),
          static_cast<std::uint16_t>(physical % N700_ROW_TILES)};
}

// The physical number at a row and position; unchecked like the formulas.
constexpr std::uint16_t physical_at(PhysicalLocation location) {
  return static_cast<std::uint16_t>(location.row * N700_ROW_TILES + location.position);
}

// A card's logical-to-physical tile table. Build it once and query it often:
// `physical` is one indexed read, `n700` computes every entry.
class Topology {
public:
  // The N700 card: entry l holds n700_logical_to_physical(l), l = 0 to 1471.
  static Topology n700();

  // The physical number of a logical tile, or ExchangeError::Tile carrying
  // `logical` when the card has no such tile.
  std::expected<std::uint16_t, ExchangeError> physical(std::uint16_t logical) const;

  // Number of tiles of the card.
  std::uint16_t tile_count() const { return static_cast<std::uint16_t>(logical_to_physical_.size()); }

private:
  explicit Topology(std::vector<std::uint16_t> logical_to_physical)
      : logical_to_physical_(std::move(logical_to_physical)) {}

  std::vector<std::uint16_t> logical_to_physical_;
};

}  // namespace zlu_exchange

template <>
struct fmt::formatter<zlu_exchange::ExchangeError> : fmt::formatter<std::string_view> {
  auto format(const zlu_exchange::ExchangeError& error, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(error.render(), ctx);
  }
};
