// The `summary` view of a profile: headline figures, per-kind totals, the
// busiest and idlest tiles and everything that is missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "statistics.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace zlu_profile {

// A tile in a ranking: its physical number, where it sits (nothing for a
// number outside the card) and its cycles.
struct RankedTile {
  std::uint32_t physical_tile = 0;
  std::optional<zlu_exchange::PhysicalLocation> location;
  std::uint64_t busy_cycles = 0;
  std::uint64_t recorded_cycles = 0;
};

struct KindTotal {
  ProfileStepKind kind = ProfileStepKind::Exchange;
  std::uint64_t cycles = 0;
  std::uint64_t samples = 0;
  // Share of all recorded cycles of the card, 0 to 1.
  double share = 0;
};

struct Summary {
  std::string file;
  std::uint32_t format_version = 0;
  ProfileStatistics statistics;
  std::vector<KindTotal> kinds;
  // By busy cycles, most first; ties go to the lower physical number.
  std::vector<RankedTile> busiest;
  // By busy cycles, fewest first, among tiles that recorded samples.
  std::vector<RankedTile> idlest;
  std::vector<ProfileStepKind> absent_kinds;
};

// How many tiles each ranking of the summary holds.
inline constexpr std::size_t RANKED_TILES = 5;

Summary summarize(const zlu_package::ProfileReport& profile, std::uint32_t format_version, std::string file);

// The summary as text for a terminal, lines ending in a line feed.
std::string render_summary(const Summary& summary);

// The same figures as one JSON document.
nlohmann::json summary_json(const Summary& summary);

// Ascending numbers written as "3, 7-9"; "none" for no numbers.
std::string render_ranges(const std::vector<std::uint32_t>& ascending);

}  // namespace zlu_profile
