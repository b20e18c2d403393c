// Per-tile and per-kind cycle totals of a profile: the figures that the
// summary, the picture and the card map are drawn from.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "kinds.hpp"

namespace zlu_profile {

// Cycles of one kind or of all kinds, indexed by kind_index.
using KindCycles = std::array<std::uint64_t, STEP_KINDS.size()>;

// What one physical tile recorded, over every entry the file holds for it.
struct TileStatistics {
  std::uint32_t physical_tile = 0;
  std::uint64_t samples = 0;
  KindCycles cycles{};

  std::uint64_t recorded_cycles() const;
  // Cycles spent on anything but idling.
  std::uint64_t busy_cycles() const;
  // Share of the recorded cycles spent computing; nothing when none recorded.
  std::optional<double> compute_share() const;
};

// The whole profile reduced to totals. A sample whose end lies before its
// start counts as zero cycles and is counted in `reversed_samples`, so a
// damaged profile still yields figures instead of huge wrapped numbers.
struct ProfileStatistics {
  std::uint64_t clock_hz = 0;
  std::uint64_t tile_entries = 0;
  std::uint64_t samples = 0;
  KindCycles kind_cycles{};
  std::array<std::uint64_t, STEP_KINDS.size()> kind_samples{};
  // Earliest start and latest end over all samples, when there are samples.
  std::optional<std::uint32_t> first_cycle;
  std::optional<std::uint32_t> last_cycle;
  // One entry per distinct physical tile of the file, ascending.
  std::vector<TileStatistics> tiles;
  // Physical tiles whose entries hold no sample, ascending.
  std::vector<std::uint32_t> empty_tiles;
  // Tiles of the card that have no entry in the file, ascending.
  std::vector<std::uint32_t> missing_tiles;
  // Physical tiles that have more than one entry, ascending.
  std::vector<std::uint32_t> repeated_tiles;
  // Entries whose physical number lies outside the card, ascending, distinct.
  std::vector<std::uint32_t> off_card_tiles;
  std::uint64_t reversed_samples = 0;

  std::uint64_t recorded_cycles() const;
  std::uint64_t span_cycles() const;
  // The span in microseconds; nothing when the clock is 0 Hz.
  std::optional<double> span_microseconds() const;
};

ProfileStatistics compute_statistics(const zlu_package::ProfileReport& profile);

// Cycles of a sample, zero when its end lies before its start.
std::uint64_t sample_cycles(const zlu_package::CycleSample& sample);

// Microseconds of a cycle count at `clock_hz`, which must not be 0.
double cycles_to_microseconds(std::uint64_t cycles, std::uint64_t clock_hz);

}  // namespace zlu_profile
