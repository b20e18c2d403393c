#include "utf8.hpp"

#include <cstdint>
#include <cstring>

namespace zlu_base {

Utf8Sequence utf8_sequence_at(std::string_view bytes, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return {1, true, false};
  // How many continuation bytes the lead announces, and the range of the
  // first one: narrower than 80..BF where that excludes overlong forms,
  // surrogates and values above U+10FFFF.
  std::size_t need = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, false, false};
  }
  std::size_t taken = 1;
  for (std::size_t k = 0; k < need; ++k) {
    const std::size_t i = at + 1 + k;
    if (i >= bytes.size()) return {taken, false, true};
    const std::uint8_t b = byte(i);
    if (b < (k == 0 ? low : 0x80) || b > (k == 0 ? high : 0xBF)) return {taken, false, false};
    ++taken;
  }
  return {taken, true, false};
}

std::optional<Utf8Error> validate_utf8(std::string_view bytes) {
  const char* data = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t at = 0;
  while (at < size) {
    while (at + 8 <= size) {
      std::uint64_t word;
      std::memcpy(&word, data + at, sizeof word);
      if ((word & 0x8080808080808080ULL) != 0) break;
      at += 8;
    }
    while (at < size && static_cast<std::uint8_t>(data[at]) < 0x80) ++at;
    if (at == size) break;
    const Utf8Sequence sequence = utf8_sequence_at(bytes, at);
    if (!sequence.well_formed) {
      return Utf8Error{at, sequence.truncated ? std::nullopt : std::optional<std::uint8_t>(static_cast<std::uint8_t>(sequence.length))};
    }
    at += sequence.length;
  }
  return std::nullopt;
}

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const Utf8Sequence sequence = utf8_sequence_at(bytes, at);
    if (sequence.well_formed) {
      text.append(bytes.substr(at, sequence.length));
    } else {
      text.append(UTF8_REPLACEMENT);
    }
    at += sequence.length;
  }
  return text;
}

}  // namespace zlu_base
