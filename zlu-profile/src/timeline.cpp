#include "timeline.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace zlu_profile {
namespace {

using ColumnCycles = std::array<double, STEP_KINDS.size()>;

// Spreads the sample's cycles over the columns it covers, by the cycles it
// spends in each. Working in cycles keeps whole-cycle column edges exact, so
// equal shares compare equal.
void add_sample(std::vector<ColumnCycles>& columns, const zlu_package::CycleSample& sample, TimeWindow window) {
  if (sample.end_cycle <= sample.start_cycle || window.span_cycles == 0) {
    return;
  }
  const double width = static_cast<double>(window.span_cycles) / static_cast<double>(columns.size());
  const double begin = static_cast<double>(sample.start_cycle - window.first_cycle);
  const double end = static_cast<double>(sample.end_cycle - window.first_cycle);
  const auto last = static_cast<std::size_t>(std::min(std::ceil(end / width), static_cast<double>(columns.size())));
  const std::size_t kind = kind_index(sample.step.kind);
  for (auto column = static_cast<std::size_t>(std::floor(begin / width)); column < last; ++column) {
    const double overlap = std::min(end, static_cast<double>(column + 1) * width) -
                           std::max(begin, static_cast<double>(column) * width);
    // Rounding can leave a sliver in the column after an edge; it must not
    // paint a column the sample does not reach.
    if (overlap > width * 1e-9) {
      columns[column][kind] += overlap;
    }
  }
}

}  // namespace

std::vector<TimelineRun> timeline_runs(std::span<const zlu_package::TileProfile* const> entries,
                                       TimeWindow window, std::uint32_t columns) {
  std::vector<ColumnCycles> cycles(columns, ColumnCycles{});
  for (const zlu_package::TileProfile* entry : entries) {
    for (const zlu_package::CycleSample& sample : entry->samples) {
      add_sample(cycles, sample, window);
    }
  }
  std::vector<TimelineRun> runs;
  for (std::uint32_t column = 0; column < columns; ++column) {
    const ColumnCycles& column_cycles = cycles[column];
    const auto dominant = std::ranges::max_element(column_cycles, std::ranges::less{});
    if (*dominant <= 0) {
      continue;
    }
    // max_element returns the first of equal maxima, so ties go to the earlier kind.
    const ProfileStepKind kind = STEP_KINDS[static_cast<std::size_t>(dominant - column_cycles.begin())];
    if (!runs.empty() && runs.back().end_column == column && runs.back().kind == kind) {
      runs.back().end_column = column + 1;
    } else {
      runs.push_back({.first_column = column, .end_column = column + 1, .kind = kind});
    }
  }
  return runs;
}

}  // namespace zlu_profile
