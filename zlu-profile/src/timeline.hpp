// Reduces a tile's samples to the bars of a timeline of fixed width, so that
// a picture stays the same size however many samples a profile holds.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kinds.hpp"

namespace zlu_profile {

// The time window that a timeline shows, in cycles.
struct TimeWindow {
  std::uint32_t first_cycle = 0;
  std::uint64_t span_cycles = 0;
};

// A bar on one tile's line: columns [first_column, end_column) of one kind.
struct TimelineRun {
  std::uint32_t first_column = 0;
  std::uint32_t end_column = 0;
  ProfileStepKind kind = ProfileStepKind::Exchange;
  friend bool operator==(const TimelineRun&, const TimelineRun&) = default;
};

// The bars of one tile drawn `columns` wide over `window`. Each column takes
// the kind that holds the most of its cycles (the earlier kind on a tie);
// columns without cycles stay empty; neighbouring columns of one kind merge
// into one run. `entries` are all the entries of the file for that tile.
std::vector<TimelineRun> timeline_runs(std::span<const zlu_package::TileProfile* const> entries,
                                       TimeWindow window, std::uint32_t columns);

}  // namespace zlu_profile
