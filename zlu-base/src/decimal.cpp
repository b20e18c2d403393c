#include "decimal.hpp"

#include <limits>

namespace zlu_base {

std::expected<std::uint64_t, std::string_view> parse_decimal_u64(std::string_view text) {
  if (text.empty()) return std::unexpected("cannot parse integer from empty string");
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::unexpected("invalid digit found in string");
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::unexpected("number too large to fit in target type");
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace zlu_base
