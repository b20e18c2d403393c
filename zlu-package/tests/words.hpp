// Hand-made message words, for what the builders cannot produce: broken
// framing, aliased pointers, lists of zero-sized elements.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <kj/common.h>

namespace zlu_package::testing {

// Pointer words; `offset` counts words from the end of the pointer.
constexpr std::uint64_t struct_pointer(std::int32_t offset, std::uint16_t data_words, std::uint16_t pointers) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(offset) << 2)) |
         (std::uint64_t{data_words} << 32) | (std::uint64_t{pointers} << 48);
}

enum class ElementSize : std::uint8_t { Void = 0, Byte = 2, Composite = 7 };

constexpr std::uint64_t list_pointer(std::int32_t offset, ElementSize size, std::uint32_t count) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(offset) << 2) | 1) |
         (static_cast<std::uint64_t>(static_cast<std::uint8_t>(size)) << 32) | (std::uint64_t{count} << 35);
}

// The tag word of a composite list: element count and the element's shape.
constexpr std::uint64_t list_tag(std::uint32_t elements, std::uint16_t data_words, std::uint16_t pointers) {
  return (std::uint64_t{elements} << 2) | (std::uint64_t{data_words} << 32) | (std::uint64_t{pointers} << 48);
}

constexpr std::uint64_t far_pointer(std::uint32_t landing_word, std::uint32_t segment) {
  return (std::uint64_t{landing_word} << 3) | 2 | (std::uint64_t{segment} << 32);
}

struct Segment {
  std::vector<std::uint64_t> words;

  std::size_t add(std::uint64_t word) {
    words.push_back(word);
    return words.size() - 1;
  }

  // Text bytes with their zero terminator, padded to whole words; returns
  // the first word's index.
  std::size_t add_text(std::string_view text) {
    const std::size_t first = words.size();
    std::vector<kj::byte> bytes(text.begin(), text.end());
    bytes.push_back(0);
    bytes.resize((bytes.size() + 7) / 8 * 8, 0);
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
      std::uint64_t word = 0;
      for (int b = 0; b < 8; ++b) word |= std::uint64_t{bytes[i + b]} << (8 * b);
      words.push_back(word);
    }
    return first;
  }

  // Offset for a pointer at `from` to reach `to`.
  static std::int32_t offset(std::size_t from, std::size_t to) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(to) - static_cast<std::int64_t>(from) - 1);
  }
};

// The stream framing of `segments`, as the library writes it.
inline std::vector<kj::byte> frame(const std::vector<Segment>& segments) {
  std::vector<std::uint32_t> table{static_cast<std::uint32_t>(segments.size() - 1)};
  for (const Segment& segment : segments) table.push_back(static_cast<std::uint32_t>(segment.words.size()));
  if (table.size() % 2 != 0) table.push_back(0);
  std::vector<kj::byte> bytes;
  for (std::uint32_t entry : table) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<kj::byte>(entry >> shift));
  }
  for (const Segment& segment : segments) {
    for (std::uint64_t word : segment.words) {
      for (int shift = 0; shift < 64; shift += 8) bytes.push_back(static_cast<kj::byte>(word >> shift));
    }
  }
  return bytes;
}

}  // namespace zlu_package::testing
