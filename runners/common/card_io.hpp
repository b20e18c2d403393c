// Moving 32-bit words between a runner and the card model, and turning what
// goes wrong into the runner's failures.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "card.hpp"
#include "outcome.hpp"

namespace zlu_runner {

// A card operation that returned an error while a scenario ran: a failed
// check, "<what>: <error>", e.g. "D2H from tile 5: Address(524288)".
Failure card_failure(std::string_view what, const zlu_exchange::ExchangeError& error);

// The words as bytes, in the card's (little-endian host) byte order.
std::span<const std::byte> word_bytes(std::span<const std::uint32_t> words);

// H2D of `words` to a logical tile through its host route.
std::expected<void, Failure> write_words(zlu_card::Card& card, std::uint16_t tile, std::uint32_t address,
                                         std::span<const std::uint32_t> words);

// D2H of `count` words from a logical tile through its host route.
std::expected<std::vector<std::uint32_t>, Failure> read_words(zlu_card::Card& card, std::uint16_t tile,
                                                              std::uint32_t address, std::size_t count);

// Compares what a tile holds (`actual`, read from `address`) with the host
// reference. The failure names the tile, the offset of the first differing
// word and both values: "tile 7 address 0x1004 (what): expected 0x..., found 0x...".
std::expected<void, Failure> compare_words(std::string_view what, std::uint16_t tile, std::uint32_t address,
                                           std::span<const std::uint32_t> actual,
                                           std::span<const std::uint32_t> expected);

// read_words followed by compare_words.
std::expected<void, Failure> check_words(zlu_card::Card& card, std::string_view what, std::uint16_t tile,
                                         std::uint32_t address, std::span<const std::uint32_t> expected);

// A word that depends on the tile, the index and a salt: distinct enough that
// data delivered to the wrong tile or address does not match by accident.
std::uint32_t pattern_word(std::uint32_t tile, std::uint32_t index, std::uint32_t salt);

// pattern_word for indices 0 to count - 1.
std::vector<std::uint32_t> pattern_words(std::uint32_t tile, std::size_t count, std::uint32_t salt);

}  // namespace zlu_runner
