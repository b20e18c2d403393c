// The settings of the cycle gate, read from the environment once with the
// harness's other settings: whether attempts carry cycle summaries, the
// baseline they are judged by, the tolerance, and the file a run blesses.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "zlu-base/src/environment.hpp"

namespace harness {

inline constexpr std::string_view CYCLES_VAR = "ZLU_TEST_CYCLES";
inline constexpr std::string_view CYCLE_BASELINE_VAR = "ZLU_TEST_CYCLE_BASELINE";
inline constexpr std::string_view CYCLE_TOLERANCE_VAR = "ZLU_TEST_CYCLE_TOLERANCE";
inline constexpr std::string_view CYCLE_BLESS_VAR = "ZLU_TEST_CYCLE_BLESS";

// The quantities a baseline holds for a test, in this order: the four step
// kinds as CycleSummary indexes them, then the span.
inline constexpr std::array<std::string_view, 5> CYCLE_QUANTITIES = {"exchange", "compute", "synchronization",
                                                                     "idle", "span"};
inline constexpr std::size_t SPAN_QUANTITY = 4;

// A relative change in millionths: 1% is 10000.
// Kept as an integer so that a comparison at the limit is exact.
using PartsPerMillion = std::uint64_t;

// The largest tolerance accepted: 1000%.
inline constexpr PartsPerMillion MAX_TOLERANCE = 10'000'000;

struct CycleTolerance {
  // How much each quantity may grow over its baseline before the test
  // fails, by CYCLE_QUANTITIES index; zero (exact) unless set.
  std::array<PartsPerMillion, CYCLE_QUANTITIES.size()> allowed{};
};

struct CycleOptions {
  // ZLU_TEST_CYCLES=on: attempts carry cycle summaries, without a baseline.
  bool summaries = false;
  std::optional<std::string> baseline;
  std::optional<std::string> bless;
  CycleTolerance tolerance;

  // Whether any setting asks runners for their profiles.
  bool active() const { return summaries || baseline || bless; }
};

// Parses a tolerance: comma-separated items, each a percentage for every
// quantity ("2.5") or for one ("exchange=10", "span=0.5"); later items win.
// A percentage has up to four decimals and is at most 1000. The error says
// what was expected of `text`.
std::expected<CycleTolerance, std::string> parse_cycle_tolerance(std::string_view text);

// Reads the four variables. ZLU_TEST_CYCLES takes `on` or `off`; the two
// files must not be empty; a tolerance without a baseline is refused, as it
// would judge nothing. The error is one line naming the variable and its value.
std::expected<CycleOptions, std::string> parse_cycle_options(const zlu_base::EnvLookup& env);

// `ppm` as a percentage for messages: "0%", "2.5%", "12%".
std::string render_percentage(PartsPerMillion ppm);

}  // namespace harness
