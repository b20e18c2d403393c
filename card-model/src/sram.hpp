// One tile's SRAM, allocated lazily page by page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "zlu-exchange/src/lib.hpp"

namespace zlu_card {

// Size of a tile's SRAM: addresses 0x0 to 0x7FFFF.
inline constexpr std::uint32_t SRAM_BYTES = 0x80000;
// The SRAM is split into four arenas; a tensor that an allocator places must
// not straddle an arena boundary, so large tensors are split into segments.
inline constexpr std::uint32_t ARENA_BYTES = 0x20000;
inline constexpr std::uint32_t ARENA_COUNT = SRAM_BYTES / ARENA_BYTES;
// Granularity of the lazy allocation.
inline constexpr std::uint32_t PAGE_BYTES = 0x1000;
inline constexpr std::uint32_t PAGE_COUNT = SRAM_BYTES / PAGE_BYTES;

class TileSram {
  // The SRAM of one tile. A page costs memory only once it is written; unwritten
  // bytes read as zero, so a card whose tiles are mostly untouched stays small.
  // Invariant: every allocated page holds PAGE_BYTES bytes.
 public:
  TileSram() = default;
  TileSram(TileSram&&) noexcept = default;
  TileSram& operator=(TileSram&&) noexcept = default;

  // Copies `out.size()` bytes starting at `address` into `out`. A range that
  // leaves the SRAM is ExchangeError::Address carrying the first address
  // outside it (or `address` itself when that is outside); nothing is read.
  std::expected<void, zlu_exchange::ExchangeError> read(std::uint32_t address, std::span<std::byte> out) const;

  // Stores `data` at `address`, allocating the pages it touches. Bounds are
  // checked as for `read`; on an error nothing is written.
  std::expected<void, zlu_exchange::ExchangeError> write(std::uint32_t address, std::span<const std::byte> data);

  // Number of pages that have been allocated.
  std::uint32_t pages_allocated() const;

  // From now on, bit `bit` (0 to 31) of every 32-bit word written reads as
  // one, as in an SRAM with a cell stuck high in that column.
  void stick_bit(unsigned bit);

 private:
  using Page = std::array<std::byte, PAGE_BYTES>;
  void apply_stuck_bit(std::uint32_t address, std::size_t size);
  std::array<std::unique_ptr<Page>, PAGE_COUNT> pages_{};
  std::optional<unsigned> stuck_bit_;
};

// Checks that [address, address + bytes) lies in a tile's SRAM. On failure the
// error is ExchangeError::Address with the first offending address.
std::expected<void, zlu_exchange::ExchangeError> check_sram_range(std::uint32_t address, std::uint64_t bytes);

// 32-bit words in and out of a tile's SRAM, in the card's byte order, for
// kernels that compute on words.
std::expected<void, zlu_exchange::ExchangeError> load_words(const TileSram& sram, std::uint32_t address,
                                                            std::span<std::uint32_t> out);
std::expected<void, zlu_exchange::ExchangeError> store_words(TileSram& sram, std::uint32_t address,
                                                             std::span<const std::uint32_t> words);

}  // namespace zlu_card
