#include "location.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include <fmt/format.h>

namespace zlu_history {

namespace {

constexpr std::array<std::string_view, 2> POSTGRES_SCHEMES = {"postgresql", "postgres"};

// The scheme of a URL "scheme://...": letters first, then letters, digits,
// '+', '-' or '.'; empty when `value` is not such a URL.
std::string_view url_scheme(std::string_view value) {
  const auto separator = value.find("://");
  if (separator == std::string_view::npos || separator == 0) return {};
  const std::string_view scheme = value.substr(0, separator);
  if (std::isalpha(static_cast<unsigned char>(scheme.front())) == 0) return {};
  const bool well_formed = std::ranges::all_of(scheme, [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
  });
  return well_formed ? scheme : std::string_view();
}

}  // namespace

std::expected<StoreLocation, std::string> parse_location(std::string_view value, std::string_view source) {
  if (value.empty())
    return std::unexpected(
        fmt::format("{}=\"\": expected an SQLite file path or a postgresql:// URL", source));
  const std::string_view scheme = url_scheme(value);
  if (scheme.empty()) return StoreLocation{StoreLocation::Kind::SqliteFile, std::string(value)};
  const bool postgres = std::ranges::any_of(POSTGRES_SCHEMES, [&](std::string_view known) {
    return std::ranges::equal(scheme, known, [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) == b;
    });
  });
  if (!postgres)
    return std::unexpected(fmt::format(
        "{}={}: a URL of scheme \"{}\" names no store; expected an SQLite file path or a postgresql:// URL", source,
        value, scheme));
  return StoreLocation{StoreLocation::Kind::Postgres, std::string(value)};
}

}  // namespace zlu_history
