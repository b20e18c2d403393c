// The `diff` view of two profiles of the same program: how the cycles of
// each step kind and the span moved, and which tiles moved most per kind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "statistics.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace zlu_profile {

struct CycleMove {
  // A count in the old profile and in the new one.
  std::uint64_t old_cycles = 0;
  std::uint64_t new_cycles = 0;

  // new minus old, as a signed count.
  std::int64_t change() const;
};

struct TileMove {
  std::uint32_t physical_tile = 0;
  // Where it sits; nothing for a number outside the card.
  std::optional<zlu_exchange::PhysicalLocation> location;
  CycleMove cycles;
};

struct ProfileDiff {
  std::string old_file;
  std::string new_file;
  // By kind_index.
  std::array<CycleMove, STEP_KINDS.size()> kinds{};
  CycleMove span;
  // By kind_index: the tiles whose cycles of that kind changed, most changed
  // first (by size, either way), ties to the lower number; at most
  // RANKED_TILES each.
  std::array<std::vector<TileMove>, STEP_KINDS.size()> moved_tiles{};
};

ProfileDiff diff_profiles(const ProfileStatistics& old_profile, const ProfileStatistics& new_profile,
                          std::string old_file, std::string new_file);

// The diff as text for a terminal, lines ending in a line feed.
std::string render_diff(const ProfileDiff& diff);

// The same figures as one JSON document.
nlohmann::json diff_json(const ProfileDiff& diff);

}  // namespace zlu_profile
