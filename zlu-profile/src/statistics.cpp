#include "statistics.hpp"

#include <algorithm>
#include <numeric>

#include "zlu-exchange/src/lib.hpp"

namespace zlu_profile {

std::uint64_t TileStatistics::recorded_cycles() const {
  return std::accumulate(cycles.begin(), cycles.end(), std::uint64_t{0});
}

std::uint64_t TileStatistics::busy_cycles() const {
  return recorded_cycles() - cycles[kind_index(ProfileStepKind::Idle)];
}

std::optional<double> TileStatistics::compute_share() const {
  const std::uint64_t recorded = recorded_cycles();
  if (recorded == 0) {
    return std::nullopt;
  }
  return static_cast<double>(cycles[kind_index(ProfileStepKind::Compute)]) / static_cast<double>(recorded);
}

std::uint64_t ProfileStatistics::recorded_cycles() const {
  return std::accumulate(kind_cycles.begin(), kind_cycles.end(), std::uint64_t{0});
}

std::uint64_t ProfileStatistics::span_cycles() const {
  return first_cycle && last_cycle ? std::uint64_t{*last_cycle} - *first_cycle : 0;
}

std::optional<double> ProfileStatistics::span_microseconds() const {
  if (clock_hz == 0) {
    return std::nullopt;
  }
  return cycles_to_microseconds(span_cycles(), clock_hz);
}

std::uint64_t sample_cycles(const zlu_package::CycleSample& sample) {
  return sample.end_cycle >= sample.start_cycle ? sample.end_cycle - sample.start_cycle : 0;
}

double cycles_to_microseconds(std::uint64_t cycles, std::uint64_t clock_hz) {
  return static_cast<double>(cycles) * 1e6 / static_cast<double>(clock_hz);
}

ProfileStatistics compute_statistics(const zlu_package::ProfileReport& profile) {
  ProfileStatistics statistics;
  statistics.clock_hz = profile.clock_hz;
  statistics.tile_entries = profile.tiles.size();

  // Entries are visited in physical order so that repeated entries of one
  // tile merge into one record whatever their place in the file.
  std::vector<const zlu_package::TileProfile*> entries;
  entries.reserve(profile.tiles.size());
  for (const auto& tile : profile.tiles) {
    entries.push_back(&tile);
  }
  std::ranges::stable_sort(entries, {}, &zlu_package::TileProfile::physical_tile);

  std::vector<bool> present(zlu_exchange::N700_TILES, false);
  for (const zlu_package::TileProfile* entry : entries) {
    const std::uint32_t physical = entry->physical_tile;
    if (!statistics.tiles.empty() && statistics.tiles.back().physical_tile == physical) {
      if (statistics.repeated_tiles.empty() || statistics.repeated_tiles.back() != physical) {
        statistics.repeated_tiles.push_back(physical);
      }
    } else {
      statistics.tiles.push_back({.physical_tile = physical});
      if (physical < zlu_exchange::N700_TILES) {
        present[physical] = true;
      } else {
        statistics.off_card_tiles.push_back(physical);
      }
    }
    TileStatistics& tile = statistics.tiles.back();
    for (const zlu_package::CycleSample& sample : entry->samples) {
      const std::size_t kind = kind_index(sample.step.kind);
      const std::uint64_t cycles = sample_cycles(sample);
      tile.cycles[kind] += cycles;
      ++tile.samples;
      statistics.kind_cycles[kind] += cycles;
      ++statistics.kind_samples[kind];
      ++statistics.samples;
      if (sample.end_cycle < sample.start_cycle) {
        ++statistics.reversed_samples;
      }
      const std::uint32_t low = std::min(sample.start_cycle, sample.end_cycle);
      const std::uint32_t high = std::max(sample.start_cycle, sample.end_cycle);
      statistics.first_cycle = std::min(statistics.first_cycle.value_or(low), low);
      statistics.last_cycle = std::max(statistics.last_cycle.value_or(high), high);
    }
  }
  for (const TileStatistics& tile : statistics.tiles) {
    if (tile.samples == 0) {
      statistics.empty_tiles.push_back(tile.physical_tile);
    }
  }
  for (std::uint32_t physical = 0; physical < zlu_exchange::N700_TILES; ++physical) {
    if (!present[physical]) {
      statistics.missing_tiles.push_back(physical);
    }
  }
  return statistics;
}

}  // namespace zlu_profile
