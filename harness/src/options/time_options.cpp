#include "options/time_options.hpp"

#include <fmt/format.h>
#include <limits>

#include "zlu-base/src/decimal.hpp"

namespace harness {
namespace {

std::expected<std::chrono::milliseconds, std::string> parse_millis(std::string_view variable, std::string_view text) {
  const auto number = zlu_base::parse_decimal_u64(text);
  constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::chrono::milliseconds::rep>::max());
  if (!number || *number > max)
    return std::unexpected(
        fmt::format("Duration value in variable {} is expected to be a number, but got {}", variable, text));
  return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(*number));
}

std::expected<TimeThreshold, std::string> threshold_from_env(std::string_view variable, TimeThreshold fallback,
                                                            const EnvLookup& env) {
  const auto value = env(std::string(variable));
  if (!value) return fallback;
  const auto comma = value->find(',');
  if (comma == std::string::npos || value->find(',', comma + 1) != std::string::npos)
    return std::unexpected(fmt::format(
        "Duration variable {} expected to have 2 numbers separated by comma, but got {}", variable, *value));
  const auto warn = parse_millis(variable, std::string_view(*value).substr(0, comma));
  if (!warn) return std::unexpected(warn.error());
  const auto critical = parse_millis(variable, std::string_view(*value).substr(comma + 1));
  if (!critical) return std::unexpected(critical.error());
  if (*warn > *critical) return std::unexpected("Test execution warn time should be less or equal to the critical time");
  return TimeThreshold{*warn, *critical};
}

}  // namespace

bool reached(std::chrono::nanoseconds elapsed, std::chrono::milliseconds threshold) {
  constexpr auto longest = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds::max());
  return threshold <= longest && elapsed >= threshold;
}

TimeThreshold TestTimeOptions::threshold(TestType type) const {
  switch (type) {
    case TestType::UnitTest: return unit_threshold;
    case TestType::IntegrationTest: return integration_threshold;
    case TestType::DocTest: return doctest_threshold;
    case TestType::Unknown: break;
  }
  return {std::chrono::milliseconds(500), std::chrono::milliseconds(1000)};
}

std::expected<TestTimeOptions, std::string> time_options_from_env(bool error_on_excess, const EnvLookup& env) {
  TestTimeOptions options;
  options.error_on_excess = error_on_excess;
  for (auto [variable, threshold] : {std::pair{TIME_UNIT_VAR, &options.unit_threshold},
                                     std::pair{TIME_INTEGRATION_VAR, &options.integration_threshold},
                                     std::pair{TIME_DOCTEST_VAR, &options.doctest_threshold}}) {
    auto parsed = threshold_from_env(variable, *threshold, env);
    if (!parsed) return std::unexpected(parsed.error());
    *threshold = *parsed;
  }
  return options;
}

}  // namespace harness
