#include "card_io.hpp"

#include <fmt/format.h>

namespace zlu_runner {

Failure card_failure(std::string_view what, const zlu_exchange::ExchangeError& error) {
  return Failure::check(fmt::format("{}: {}", what, error.render()));
}

std::span<const std::byte> word_bytes(std::span<const std::uint32_t> words) { return std::as_bytes(words); }

std::expected<void, Failure> write_words(zlu_card::Card& card, std::uint16_t tile, std::uint32_t address,
                                         std::span<const std::uint32_t> words) {
  if (auto written = card.host_write(tile, address, std::as_bytes(words)); !written) {
    return std::unexpected(card_failure(fmt::format("H2D to tile {} address {:#x}", tile, address), written.error()));
  }
  return {};
}

std::expected<std::vector<std::uint32_t>, Failure> read_words(zlu_card::Card& card, std::uint16_t tile,
                                                              std::uint32_t address, std::size_t count) {
  std::vector<std::uint32_t> words(count);
  if (auto read = card.host_read(tile, address, std::as_writable_bytes(std::span(words))); !read) {
    return std::unexpected(card_failure(fmt::format("D2H from tile {} address {:#x}", tile, address), read.error()));
  }
  return words;
}

std::expected<void, Failure> compare_words(std::string_view what, std::uint16_t tile, std::uint32_t address,
                                           std::span<const std::uint32_t> actual,
                                           std::span<const std::uint32_t> expected) {
  if (actual.size() != expected.size()) {
    return std::unexpected(Failure::check(fmt::format("tile {} address {:#x} ({}): expected {} words, found {}", tile,
                                                      address, what, expected.size(), actual.size())));
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (actual[i] != expected[i]) {
      return std::unexpected(Failure::check(fmt::format("tile {} address {:#x} ({}): expected {:#010x}, found {:#010x}",
                                                        tile, address + 4 * i, what, expected[i], actual[i])));
    }
  }
  return {};
}

std::expected<void, Failure> check_words(zlu_card::Card& card, std::string_view what, std::uint16_t tile,
                                         std::uint32_t address, std::span<const std::uint32_t> expected) {
  auto actual = read_words(card, tile, address, expected.size());
  if (!actual) return std::unexpected(actual.error());
  return compare_words(what, tile, address, *actual, expected);
}

std::uint32_t pattern_word(std::uint32_t tile, std::uint32_t index, std::uint32_t salt) {
  std::uint32_t x = tile * 0x9e3779b9u ^ (index + 0x7f4a7c15u) * 0x85ebca6bu ^ salt * 0xc2b2ae35u;
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

std::vector<std::uint32_t> pattern_words(std::uint32_t tile, std::size_t count, std::uint32_t salt) {
  std::vector<std::uint32_t> words(count);
  for (std::size_t i = 0; i < count; ++i) words[i] = pattern_word(tile, static_cast<std::uint32_t>(i), salt);
  return words;
}

}  // namespace zlu_runner
