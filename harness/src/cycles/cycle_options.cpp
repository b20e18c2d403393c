#include "cycles/cycle_options.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "zlu-base/src/decimal.hpp"

namespace harness {
namespace {

constexpr std::size_t MAX_DECIMALS = 4;

// "12.25" -> 122500 millionths; nothing for anything but digits with at
// most MAX_DECIMALS decimals after one point, or a value over the limit.
std::optional<PartsPerMillion> parse_percentage(std::string_view text) {
  const auto point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  if (point != std::string_view::npos && fraction.empty()) return std::nullopt;
  if (fraction.size() > MAX_DECIMALS) return std::nullopt;
  const auto units = zlu_base::parse_decimal_u64(whole);
  if (!units || *units > MAX_TOLERANCE / 10'000) return std::nullopt;
  PartsPerMillion ppm = *units * 10'000;
  if (!fraction.empty()) {
    const auto digits = zlu_base::parse_decimal_u64(fraction);
    if (!digits) return std::nullopt;
    PartsPerMillion scaled = *digits;
    for (std::size_t i = fraction.size(); i < MAX_DECIMALS; ++i) scaled *= 10;
    ppm += scaled;
  }
  if (ppm > MAX_TOLERANCE) return std::nullopt;
  return ppm;
}

std::string refused(std::string_view name, std::string_view value, std::string_view expected) {
  return fmt::format("{} is `{}`, should be {}.", name, value, expected);
}

}  // namespace

std::expected<CycleTolerance, std::string> parse_cycle_tolerance(std::string_view text) {
  CycleTolerance tolerance;
  std::string_view rest = text;
  while (true) {
    const auto comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const auto equals = item.find('=');
    const std::string_view value = equals == std::string_view::npos ? item : item.substr(equals + 1);
    const auto ppm = parse_percentage(value);
    if (!ppm) {
      return std::unexpected(fmt::format("a percentage from 0 to {} with at most {} decimals in `{}`",
                                         MAX_TOLERANCE / 10'000, MAX_DECIMALS, item));
    }
    if (equals == std::string_view::npos) {
      tolerance.allowed.fill(*ppm);
    } else {
      const std::string_view name = item.substr(0, equals);
      const auto known = std::ranges::find(CYCLE_QUANTITIES, name);
      if (known == CYCLE_QUANTITIES.end()) {
        return std::unexpected(fmt::format(
            "one of exchange, compute, synchronization, idle or span before `=` in `{}`", item));
      }
      tolerance.allowed[static_cast<std::size_t>(known - CYCLE_QUANTITIES.begin())] = *ppm;
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return tolerance;
}

std::expected<CycleOptions, std::string> parse_cycle_options(const zlu_base::EnvLookup& env) {
  CycleOptions options;
  if (const auto value = env(CYCLES_VAR)) {
    if (*value != "on" && *value != "off") return std::unexpected(refused(CYCLES_VAR, *value, "`on`, `off` or unset"));
    options.summaries = *value == "on";
  }
  for (const auto& [name, file] : {std::pair{CYCLE_BASELINE_VAR, &options.baseline},
                                   std::pair{CYCLE_BLESS_VAR, &options.bless}}) {
    const auto value = env(name);
    if (!value) continue;
    if (value->empty()) return std::unexpected(refused(name, *value, "the path of a JSON file"));
    *file = *value;
  }
  if (const auto value = env(CYCLE_TOLERANCE_VAR)) {
    if (!options.baseline) {
      return std::unexpected(fmt::format("{} is `{}`, but {} is unset: a tolerance needs a baseline to apply to.",
                                         CYCLE_TOLERANCE_VAR, *value, CYCLE_BASELINE_VAR));
    }
    auto tolerance = parse_cycle_tolerance(*value);
    if (!tolerance) return std::unexpected(refused(CYCLE_TOLERANCE_VAR, *value, tolerance.error()));
    options.tolerance = *tolerance;
  }
  return options;
}

std::string render_percentage(PartsPerMillion ppm) {
  std::string text = fmt::format("{}.{:04}", ppm / 10'000, ppm % 10'000);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text + "%";
}

}  // namespace harness
