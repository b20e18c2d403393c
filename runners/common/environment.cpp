#include "environment.hpp"

#include <charconv>
#include <unordered_set>

#include <fmt/format.h>

#include "zlu-base/src/decimal.hpp"

namespace zlu_runner {
namespace {

// The value as it appears in a message: quoted, with bytes that would break
// the one-line report escaped. (Not debug_quoted: a raw environment value may
// be any bytes, so every byte outside printable ASCII shows as \xNN.)
std::string quoted(std::string_view value) {
  std::string out = "\"";
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      out += fmt::format("\\x{:02x}", byte);
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

Failure invalid_value(std::string_view name, std::string_view value, std::string_view expected) {
  return Failure::config(fmt::format("{}={}: expected {}", name, quoted(value), expected));
}

std::expected<bool, Failure> parse_flag(std::string_view name, const std::optional<std::string>& value) {
  if (!value || *value == "0") return false;
  if (*value == "1") return true;
  return std::unexpected(invalid_value(name, *value, "\"1\" (on) or \"0\" (off)"));
}

std::expected<std::uint64_t, Failure> parse_unsigned(std::string_view name, std::string_view value, std::uint64_t max,
                                                     bool allow_hex) {
  const auto expectation = [&] {
    return fmt::format("{} number from 0 to {}", allow_hex ? "a decimal or 0x-hexadecimal" : "a decimal", max);
  };
  std::string_view digits = value;
  int base = 10;
  if (allow_hex && digits.starts_with("0x")) {
    digits.remove_prefix(2);
    base = 16;
  }
  if (digits.empty()) return std::unexpected(invalid_value(name, value, expectation()));
  std::uint64_t parsed = 0;
  if (base == 10) {
    const auto decimal = zlu_base::parse_decimal_u64(digits);
    if (!decimal) return std::unexpected(invalid_value(name, value, expectation()));
    parsed = *decimal;
  } else {
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed, base);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
      return std::unexpected(invalid_value(name, value, expectation()));
    }
  }
  if (parsed > max) return std::unexpected(invalid_value(name, value, expectation()));
  return parsed;
}

std::expected<std::uint64_t, Failure> parse_hex(std::string_view name, std::string_view value, std::uint64_t max) {
  if (!value.starts_with("0x")) {
    return std::unexpected(
        invalid_value(name, value, fmt::format("a hexadecimal number with \"0x\" from 0x0 to {:#x}", max)));
  }
  auto parsed = parse_unsigned(name, value, max, true);
  if (!parsed) {
    return std::unexpected(
        invalid_value(name, value, fmt::format("a hexadecimal number with \"0x\" from 0x0 to {:#x}", max)));
  }
  return parsed;
}

std::expected<std::vector<std::uint16_t>, Failure> parse_tile_list(std::string_view name, std::string_view value,
                                                                   std::uint16_t tile_count) {
  std::vector<std::uint16_t> tiles;
  std::unordered_set<std::uint16_t> seen;
  std::string_view rest = value;
  while (true) {
    const auto comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const auto tile = parse_unsigned(name, item, tile_count - 1u, false);
    if (!tile) {
      return std::unexpected(
          invalid_value(name, value,
                        fmt::format("logical tiles from 0 to {} separated by commas, without blanks; \"{}\" is not one",
                                    tile_count - 1u, item)));
    }
    const auto logical = static_cast<std::uint16_t>(*tile);
    if (!seen.insert(logical).second) {
      return std::unexpected(
          invalid_value(name, value, fmt::format("distinct tiles; tile {} is named twice", logical)));
    }
    tiles.push_back(logical);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return tiles;
}

}  // namespace zlu_runner
