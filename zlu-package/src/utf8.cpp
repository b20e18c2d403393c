#include "utf8.hpp"

#include <cstdint>
#include <cstring>

namespace zlu_package {

namespace {

struct SequenceShape {
  // How many bytes a lead byte announces, and the range its first
  // continuation byte must fall in (narrower than 80..BF where that is what
  // excludes overlong forms, surrogates and values above U+10FFFF).
  std::uint8_t length;
  std::uint8_t second_low;
  std::uint8_t second_high;
};

// Zero length means the byte cannot start a sequence.
constexpr SequenceShape shape_of(std::uint8_t lead) {
  if (lead < 0x80) return {1, 0, 0};
  if (lead < 0xC2) return {0, 0, 0};
  if (lead < 0xE0) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead < 0xF0) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead < 0xF4) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

}  // namespace

std::optional<Utf8Error> validate_utf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t at = 0;
  while (at < size) {
    // ASCII runs dominate profile texts; skip them eight bytes at a time.
    while (at + 8 <= size) {
      std::uint64_t word;
      std::memcpy(&word, data + at, sizeof word);
      if ((word & 0x8080808080808080ULL) != 0) break;
      at += 8;
    }
    if (at == size) break;
    const SequenceShape shape = shape_of(data[at]);
    if (shape.length == 0) return Utf8Error{at, 1};
    if (shape.length == 1) {
      ++at;
      continue;
    }
    for (std::uint8_t offset = 1; offset < shape.length; ++offset) {
      if (at + offset == size) return Utf8Error{at, std::nullopt};
      const std::uint8_t byte = data[at + offset];
      const std::uint8_t low = offset == 1 ? shape.second_low : 0x80;
      const std::uint8_t high = offset == 1 ? shape.second_high : 0xBF;
      if (byte < low || byte > high) return Utf8Error{at, offset};
    }
    at += shape.length;
  }
  return std::nullopt;
}

}  // namespace zlu_package
