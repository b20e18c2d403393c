#include "utf8.hpp"

namespace harness {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Length of a well-formed sequence starting at `lead`'s position, or the
// length of the maximal subpart to replace when it is ill-formed (negated).
int sequence_length(std::string_view bytes, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  int need = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  int taken = 1;
  for (int k = 0; k < need; ++k) {
    const std::size_t i = at + 1 + static_cast<std::size_t>(k);
    if (i >= bytes.size()) return -taken;
    const unsigned char b = byte(i);
    const unsigned char lo = k == 0 ? low : 0x80;
    const unsigned char hi = k == 0 ? high : 0xBF;
    if (b < lo || b > hi) return -taken;
    ++taken;
  }
  return taken;
}

}  // namespace

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const int length = sequence_length(bytes, at);
    if (length > 0) {
      text.append(bytes.substr(at, static_cast<std::size_t>(length)));
      at += static_cast<std::size_t>(length);
    } else {
      text.append(replacement);
      at += static_cast<std::size_t>(-length);
    }
  }
  return text;
}

}  // namespace harness
