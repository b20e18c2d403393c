#include "sram.hpp"

#include <algorithm>
#include <cstring>

namespace zlu_card {

using zlu_exchange::ExchangeError;

std::expected<void, ExchangeError> check_sram_range(std::uint32_t address, std::uint64_t bytes) {
  if (address >= SRAM_BYTES) return std::unexpected(ExchangeError::Address{address});
  if (bytes > SRAM_BYTES - address) return std::unexpected(ExchangeError::Address{SRAM_BYTES});
  return {};
}

std::expected<void, ExchangeError> TileSram::read(std::uint32_t address, std::span<std::byte> out) const {
  if (auto range = check_sram_range(address, out.size()); !range) return range;
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint32_t at = address + static_cast<std::uint32_t>(done);
    const std::uint32_t offset = at % PAGE_BYTES;
    const std::size_t chunk = std::min<std::size_t>(PAGE_BYTES - offset, out.size() - done);
    if (const auto& page = pages_[at / PAGE_BYTES]) {
      std::memcpy(out.data() + done, page->data() + offset, chunk);
    } else {
      std::memset(out.data() + done, 0, chunk);
    }
    done += chunk;
  }
  return {};
}

std::expected<void, ExchangeError> TileSram::write(std::uint32_t address, std::span<const std::byte> data) {
  if (auto range = check_sram_range(address, data.size()); !range) return range;
  std::size_t done = 0;
  while (done < data.size()) {
    const std::uint32_t at = address + static_cast<std::uint32_t>(done);
    const std::uint32_t offset = at % PAGE_BYTES;
    const std::size_t chunk = std::min<std::size_t>(PAGE_BYTES - offset, data.size() - done);
    auto& page = pages_[at / PAGE_BYTES];
    if (!page) page = std::make_unique<Page>();  // value-initialised: zero-filled
    std::memcpy(page->data() + offset, data.data() + done, chunk);
    done += chunk;
  }
  if (stuck_bit_) apply_stuck_bit(address, data.size());
  return {};
}

void TileSram::stick_bit(unsigned bit) { stuck_bit_ = bit; }

void TileSram::apply_stuck_bit(std::uint32_t address, std::size_t size) {
  // Words are little-endian: bit b of a word lives in its byte b / 8.
  const std::uint32_t byte_in_word = *stuck_bit_ / 8;
  const auto mask = static_cast<std::byte>(1u << (*stuck_bit_ % 8));
  const std::uint64_t end = std::uint64_t{address} + size;
  for (std::uint64_t word = address & ~std::uint32_t{3}; word < end; word += 4) {
    const std::uint64_t at = word + byte_in_word;
    if (at < address || at >= end) continue;
    pages_[at / PAGE_BYTES]->at(at % PAGE_BYTES) |= mask;
  }
}

std::uint32_t TileSram::pages_allocated() const {
  return static_cast<std::uint32_t>(
      std::count_if(pages_.begin(), pages_.end(), [](const auto& p) { return p != nullptr; }));
}

std::expected<void, ExchangeError> load_words(const TileSram& sram, std::uint32_t address,
                                              std::span<std::uint32_t> out) {
  return sram.read(address, std::as_writable_bytes(out));
}

std::expected<void, ExchangeError> store_words(TileSram& sram, std::uint32_t address,
                                               std::span<const std::uint32_t> words) {
  return sram.write(address, std::as_bytes(words));
}

}  // namespace zlu_card
