#include "summary.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace zlu_profile {
namespace {

RankedTile ranked(const TileStatistics& tile) {
  RankedTile entry{.physical_tile = tile.physical_tile,
                   .location = std::nullopt,
                   .busy_cycles = tile.busy_cycles(),
                   .recorded_cycles = tile.recorded_cycles()};
  if (tile.physical_tile < zlu_exchange::N700_TILES) {
    entry.location = zlu_exchange::physical_location(static_cast<std::uint16_t>(tile.physical_tile));
  }
  return entry;
}

std::string render_location(const RankedTile& tile) {
  if (!tile.location) {
    return fmt::format("tile {} (outside the card)", tile.physical_tile);
  }
  return fmt::format("tile {} (row {}, position {})", tile.physical_tile, tile.location->row,
                     tile.location->position);
}

std::string render_ranking(const std::vector<RankedTile>& tiles) {
  if (tiles.empty()) {
    return "  none\n";
  }
  std::string text;
  for (const RankedTile& tile : tiles) {
    const double share = tile.recorded_cycles == 0
                             ? 0.0
                             : 100.0 * static_cast<double>(tile.busy_cycles) / static_cast<double>(tile.recorded_cycles);
    text += fmt::format("  {}: {} busy cycles of {} ({:.1f}%)\n", render_location(tile), tile.busy_cycles,
                        tile.recorded_cycles, share);
  }
  return text;
}

nlohmann::json ranking_json(const std::vector<RankedTile>& tiles) {
  nlohmann::json list = nlohmann::json::array();
  for (const RankedTile& tile : tiles) {
    nlohmann::json entry = {{"physical_tile", tile.physical_tile},
                            {"row", nullptr},
                            {"position", nullptr},
                            {"busy_cycles", tile.busy_cycles},
                            {"recorded_cycles", tile.recorded_cycles}};
    if (tile.location) {
      entry["row"] = tile.location->row;
      entry["position"] = tile.location->position;
    }
    list.push_back(std::move(entry));
  }
  return list;
}

}  // namespace

Summary summarize(const zlu_package::ProfileReport& profile, std::uint32_t format_version, std::string file) {
  Summary summary;
  summary.file = std::move(file);
  summary.format_version = format_version;
  summary.statistics = compute_statistics(profile);
  const ProfileStatistics& statistics = summary.statistics;
  const std::uint64_t recorded = statistics.recorded_cycles();
  for (ProfileStepKind kind : STEP_KINDS) {
    const std::size_t index = kind_index(kind);
    summary.kinds.push_back(
        {.kind = kind,
         .cycles = statistics.kind_cycles[index],
         .samples = statistics.kind_samples[index],
         .share = recorded == 0 ? 0.0 : static_cast<double>(statistics.kind_cycles[index]) / static_cast<double>(recorded)});
    if (statistics.kind_samples[index] == 0) {
      summary.absent_kinds.push_back(kind);
    }
  }

  std::vector<RankedTile> sampled;
  for (const TileStatistics& tile : statistics.tiles) {
    if (tile.samples > 0) {
      sampled.push_back(ranked(tile));
    }
  }
  const std::size_t count = std::min(RANKED_TILES, sampled.size());
  std::ranges::stable_sort(sampled, std::ranges::greater{}, &RankedTile::busy_cycles);
  summary.busiest.assign(sampled.begin(), sampled.begin() + static_cast<std::ptrdiff_t>(count));
  std::ranges::sort(sampled, [](const RankedTile& a, const RankedTile& b) {
    return a.busy_cycles != b.busy_cycles ? a.busy_cycles < b.busy_cycles : a.physical_tile < b.physical_tile;
  });
  summary.idlest.assign(sampled.begin(), sampled.begin() + static_cast<std::ptrdiff_t>(count));
  return summary;
}

std::string render_ranges(const std::vector<std::uint32_t>& ascending) {
  if (ascending.empty()) {
    return "none";
  }
  std::string text;
  for (std::size_t first = 0; first < ascending.size();) {
    std::size_t last = first;
    while (last + 1 < ascending.size() && ascending[last + 1] == ascending[last] + 1) {
      ++last;
    }
    text += text.empty() ? "" : ", ";
    text += first == last ? fmt::format("{}", ascending[first])
                          : fmt::format("{}-{}", ascending[first], ascending[last]);
    first = last + 1;
  }
  return text;
}

std::string render_summary(const Summary& summary) {
  const ProfileStatistics& statistics = summary.statistics;
  std::string text = fmt::format("profile: {}\nformat version: {}\nclock: {} Hz\ntiles: {}\nsamples: {}\n",
                                 summary.file, summary.format_version, statistics.clock_hz,
                                 statistics.tile_entries, statistics.samples);
  text += "step kinds (cycles, share of the card's recorded time, samples):\n";
  for (const KindTotal& kind : summary.kinds) {
    text += fmt::format("  {:<16} {:>14} {:>6.1f}% {:>10}\n", kind_name(kind.kind), kind.cycles,
                        100.0 * kind.share, kind.samples);
  }
  const std::optional<double> span_us = statistics.span_microseconds();
  text += fmt::format("span: {} cycles, {}\n", statistics.span_cycles(),
                      span_us ? fmt::format("{:.3f} µs", *span_us) : std::string{"unknown µs (clock is 0 Hz)"});
  text += "busiest tiles:\n" + render_ranking(summary.busiest);
  text += "idlest tiles:\n" + render_ranking(summary.idlest);
  text += fmt::format("tiles without samples: {}\n", render_ranges(statistics.empty_tiles));
  text += fmt::format("card tiles missing from the profile: {}\n", render_ranges(statistics.missing_tiles));
  std::string absent;
  for (ProfileStepKind kind : summary.absent_kinds) {
    absent += fmt::format("{}{}", absent.empty() ? "" : ", ", kind_name(kind));
  }
  text += fmt::format("step kinds that never occur: {}\n", absent.empty() ? "none" : absent);
  if (!statistics.repeated_tiles.empty()) {
    text += fmt::format("tiles with repeated entries: {}\n", render_ranges(statistics.repeated_tiles));
  }
  if (!statistics.off_card_tiles.empty()) {
    text += fmt::format("tiles outside the card: {}\n", render_ranges(statistics.off_card_tiles));
  }
  if (statistics.reversed_samples > 0) {
    text += fmt::format("samples ending before they start (counted as 0 cycles): {}\n",
                        statistics.reversed_samples);
  }
  return text;
}

nlohmann::json summary_json(const Summary& summary) {
  const ProfileStatistics& statistics = summary.statistics;
  nlohmann::json kinds = nlohmann::json::array();
  for (const KindTotal& kind : summary.kinds) {
    kinds.push_back({{"kind", kind_name(kind.kind)},
                     {"cycles", kind.cycles},
                     {"share", kind.share},
                     {"samples", kind.samples}});
  }
  nlohmann::json absent = nlohmann::json::array();
  for (ProfileStepKind kind : summary.absent_kinds) {
    absent.push_back(kind_name(kind));
  }
  const std::optional<double> span_us = statistics.span_microseconds();
  return {{"file", summary.file},
          {"format_version", summary.format_version},
          {"clock_hz", statistics.clock_hz},
          {"tiles", statistics.tile_entries},
          {"samples", statistics.samples},
          {"kinds", std::move(kinds)},
          {"span", {{"cycles", statistics.span_cycles()},
                    {"microseconds", span_us ? nlohmann::json(*span_us) : nlohmann::json(nullptr)}}},
          {"busiest_tiles", ranking_json(summary.busiest)},
          {"idlest_tiles", ranking_json(summary.idlest)},
          {"tiles_without_samples", statistics.empty_tiles},
          {"missing_tiles", statistics.missing_tiles},
          {"absent_kinds", std::move(absent)},
          {"repeated_tiles", statistics.repeated_tiles},
          {"off_card_tiles", statistics.off_card_tiles},
          {"reversed_samples", statistics.reversed_samples}};
}

}  // namespace zlu_profile
