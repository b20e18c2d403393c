#include "svg.hpp"

#include <array>
#include <cmath>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "statistics.hpp"
#include "timeline.hpp"
#include "zlu-base/src/utf8.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace zlu_profile {
namespace {

using zlu_exchange::N700_ROW_TILES;
using zlu_exchange::N700_ROWS;
using zlu_exchange::N700_TILES;

// Layout in pixels: one pixel line per tile in the timeline.
constexpr int TIMELINE_LEFT = 80;
constexpr int TIMELINE_TOP = 60;
constexpr int TIMELINE_HEIGHT = N700_TILES;
constexpr int MAP_LEFT = TIMELINE_LEFT + static_cast<int>(TIMELINE_COLUMNS) + 70;
constexpr int MAP_TOP = TIMELINE_TOP;
constexpr int MAP_CELL = 12;
constexpr int MAP_WIDTH = N700_ROW_TILES * MAP_CELL;
constexpr int MAP_HEIGHT = N700_ROWS * MAP_CELL;
constexpr int WIDTH = MAP_LEFT + MAP_WIDTH + 40;
constexpr int HEIGHT = TIMELINE_TOP + TIMELINE_HEIGHT + 60;

constexpr std::string_view NO_SAMPLES_COLOUR = "#3a3a3a";

struct Rgb {
  double red, green, blue;
};
// Ends of the compute-share scale; purple stays clear of the kind colours.
constexpr Rgb SHARE_LOW = {247, 244, 249};
constexpr Rgb SHARE_HIGH = {63, 0, 125};

std::string share_colour(double share) {
  const auto mix = [share](double low, double high) {
    return static_cast<int>(std::lround(low + (high - low) * share));
  };
  return fmt::format("#{:02x}{:02x}{:02x}", mix(SHARE_LOW.red, SHARE_HIGH.red), mix(SHARE_LOW.green, SHARE_HIGH.green),
                     mix(SHARE_LOW.blue, SHARE_HIGH.blue));
}

// A round step (1, 2 or 5 times a power of ten) giving about eight ticks.
double tick_step(double range) {
  if (range <= 0) {
    return 1;
  }
  const double raw = range / 8;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0}) {
    if (raw <= factor * magnitude) {
      return factor * magnitude;
    }
  }
  return 10 * magnitude;
}

void write_timeline_bars(const zlu_package::ProfileReport& profile, TimeWindow window, std::ostream& out) {
  std::vector<std::vector<const zlu_package::TileProfile*>> entries(N700_TILES);
  for (const zlu_package::TileProfile& tile : profile.tiles) {
    if (tile.physical_tile < N700_TILES) {
      entries[tile.physical_tile].push_back(&tile);
    }
  }

  // One stroked path per kind keeps the document small: a bar is a short
  // horizontal line, and the next bar of that kind on the same tile moves
  // relative to the end of the last one.
  std::array<std::string, STEP_KINDS.size()> paths;
  for (std::uint32_t physical = 0; physical < N700_TILES; ++physical) {
    std::array<std::optional<std::uint32_t>, STEP_KINDS.size()> pen;
    for (const TimelineRun& run : timeline_runs(entries[physical], window, TIMELINE_COLUMNS)) {
      const std::size_t kind = kind_index(run.kind);
      const std::uint32_t width = run.end_column - run.first_column;
      paths[kind] += pen[kind] ? fmt::format("m{} 0h{}", run.first_column - *pen[kind], width)
                               : fmt::format("M{} {}.5h{}", TIMELINE_LEFT + run.first_column,
                                             TIMELINE_TOP + physical, width);
      pen[kind] = run.end_column;
    }
  }
  out << fmt::format(R"svg(<rect x="{}" y="{}" width="{}" height="{}" fill="#ffffff" stroke="#888888"/>)svg" "\n",
                     TIMELINE_LEFT, TIMELINE_TOP, TIMELINE_COLUMNS, TIMELINE_HEIGHT);
  for (ProfileStepKind kind : STEP_KINDS) {
    if (!paths[kind_index(kind)].empty()) {
      out << fmt::format(R"svg(<path class="{}" fill="none" stroke="{}" stroke-width="1" d="{}"/>)svg" "\n",
                         kind_name(kind), kind_colour(kind),
                         paths[kind_index(kind)]);
    }
  }
}

// The time axis, in microseconds when the clock is known, else in cycles,
// and the tile axis by physical number.
void write_timeline_axes(const ProfileStatistics& statistics, TimeWindow window, std::ostream& out) {
  const bool in_microseconds = statistics.clock_hz > 0;
  const double range = in_microseconds ? cycles_to_microseconds(window.span_cycles, statistics.clock_hz)
                                       : static_cast<double>(window.span_cycles);
  const double origin = in_microseconds ? cycles_to_microseconds(window.first_cycle, statistics.clock_hz)
                                        : static_cast<double>(window.first_cycle);
  const double step = tick_step(range);
  const int axis_y = TIMELINE_TOP + TIMELINE_HEIGHT;
  for (double tick = 0; range > 0 && tick <= range * (1 + 1e-9); tick += step) {
    const double x = TIMELINE_LEFT + tick / range * TIMELINE_COLUMNS;
    out << fmt::format(R"svg(<line x1="{0:.1f}" y1="{1}" x2="{0:.1f}" y2="{2}" stroke="#444444"/>)svg"
                       R"svg(<text x="{0:.1f}" y="{3}" text-anchor="middle">{4:g}</text>)svg" "\n",
                       x, axis_y, axis_y + 5, axis_y + 18, origin + tick);
  }
  out << fmt::format(R"svg(<text x="{}" y="{}" text-anchor="middle">time ({})</text>)svg" "\n",
                     TIMELINE_LEFT + TIMELINE_COLUMNS / 2, axis_y + 40, in_microseconds ? "µs" : "cycles, clock is 0 Hz");

  for (int row = 0; row <= N700_ROWS; row += 2) {
    const int y = TIMELINE_TOP + row * N700_ROW_TILES;
    out << fmt::format(R"svg(<line x1="{0}" y1="{1}" x2="{2}" y2="{1}" stroke="#444444"/>)svg"
                       R"svg(<text x="{3}" y="{4}" text-anchor="end">{5}</text>)svg" "\n",
                       TIMELINE_LEFT - 5, y, TIMELINE_LEFT, TIMELINE_LEFT - 8, y + 4, row * N700_ROW_TILES);
  }
  out << fmt::format(R"svg(<text transform="translate({},{}) rotate(-90)" text-anchor="middle">)svg"
                     "tile (physical number, 64 per row)</text>\n",
                     24, TIMELINE_TOP + TIMELINE_HEIGHT / 2);
}

void write_card_map(const ProfileStatistics& statistics, std::ostream& out) {
  std::vector<const TileStatistics*> by_physical(N700_TILES, nullptr);
  for (const TileStatistics& tile : statistics.tiles) {
    if (tile.physical_tile < N700_TILES) {
      by_physical[tile.physical_tile] = &tile;
    }
  }
  out << fmt::format(R"svg(<text x="{}" y="{}" text-anchor="middle">compute share per tile</text>)svg" "\n",
                     MAP_LEFT + MAP_WIDTH / 2, MAP_TOP - 10);
  for (std::uint16_t physical = 0; physical < N700_TILES; ++physical) {
    const auto location = zlu_exchange::physical_location(physical);
    const TileStatistics* tile = by_physical[physical];
    const std::optional<double> share = tile ? tile->compute_share() : std::nullopt;
    out << fmt::format(R"svg(<rect x="{}" y="{}" width="{}" height="{}" fill="{}"><title>tile {} (row {}, position {}): {}</title></rect>)svg" "\n",
                       MAP_LEFT + location.position * MAP_CELL, MAP_TOP + location.row * MAP_CELL, MAP_CELL, MAP_CELL,
                       share ? share_colour(*share) : std::string{NO_SAMPLES_COLOUR}, physical, location.row,
                       location.position,
                       share ? fmt::format("compute {:.1f}%", 100 * *share) : std::string{"no samples"});
  }
  for (int position = 0; position < N700_ROW_TILES; position += 8) {
    out << fmt::format(R"svg(<text x="{}" y="{}" text-anchor="middle">{}</text>)svg" "\n",
                       MAP_LEFT + position * MAP_CELL + MAP_CELL / 2, MAP_TOP + MAP_HEIGHT + 16, position);
  }
  for (int row = 0; row < N700_ROWS; row += 2) {
    out << fmt::format(R"svg(<text x="{}" y="{}" text-anchor="end">{}</text>)svg" "\n", MAP_LEFT - 6,
                       MAP_TOP + row * MAP_CELL + MAP_CELL - 2, row);
  }
  out << fmt::format(R"svg(<text x="{}" y="{}" text-anchor="middle">position</text>)svg"
                     R"svg(<text transform="translate({},{}) rotate(-90)" text-anchor="middle">row</text>)svg" "\n",
                     MAP_LEFT + MAP_WIDTH / 2, MAP_TOP + MAP_HEIGHT + 34, MAP_LEFT - 34, MAP_TOP + MAP_HEIGHT / 2);
}

void write_legend(std::ostream& out) {
  const int top = MAP_TOP + MAP_HEIGHT + 70;
  out << fmt::format(R"svg(<text x="{}" y="{}">step kinds</text>)svg" "\n", MAP_LEFT, top);
  int y = top + 14;
  for (ProfileStepKind kind : STEP_KINDS) {
    out << fmt::format(R"svg(<rect x="{}" y="{}" width="24" height="14" fill="{}"/><text x="{}" y="{}">{}</text>)svg" "\n",
                       MAP_LEFT, y, kind_colour(kind), MAP_LEFT + 32, y + 12, kind_name(kind));
    y += 22;
  }
  out << fmt::format(R"svg(<rect x="{}" y="{}" width="24" height="14" fill="{}"/><text x="{}" y="{}">no samples (map)</text>)svg" "\n",
                     MAP_LEFT, y, NO_SAMPLES_COLOUR, MAP_LEFT + 32, y + 12);
  y += 40;
  out << fmt::format(R"svg(<text x="{}" y="{}">compute share (map)</text>)svg" "\n", MAP_LEFT, y);
  out << fmt::format(R"svg(<rect x="{}" y="{}" width="256" height="14" fill="url(#share)"/>)svg"
                     R"svg(<text x="{}" y="{}">0%</text><text x="{}" y="{}" text-anchor="end">100%</text>)svg" "\n",
                     MAP_LEFT, y + 8, MAP_LEFT, y + 38, MAP_LEFT + 256, y + 38);
}

}  // namespace

std::string xml_escape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  while (!text.empty()) {
    const char c = text.front();
    const zlu_base::Utf8Sequence sequence = zlu_base::utf8_sequence_at(text, 0);
    const std::size_t length = sequence.length;
    if (!sequence.well_formed || (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
      // XML cannot carry these bytes at all; a replacement character keeps
      // the document well-formed and shows where they were.
      escaped += zlu_base::UTF8_REPLACEMENT;
      text.remove_prefix(1);
      continue;
    }
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default: escaped.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return escaped;
}

void write_svg(const zlu_package::ProfileReport& profile, std::string_view title, std::ostream& out) {
  const ProfileStatistics statistics = compute_statistics(profile);
  out << R"svg(<?xml version="1.0" encoding="UTF-8"?>)svg" "\n";
  out << fmt::format(R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="{0}" height="{1}" viewBox="0 0 {0} {1}" )svg"
                     R"svg(font-family="sans-serif" font-size="12" shape-rendering="crispEdges">)svg" "\n",
                     WIDTH, HEIGHT);
  out << fmt::format(R"svg(<defs><linearGradient id="share"><stop offset="0" stop-color="{}"/>)svg"
                     R"svg(<stop offset="1" stop-color="{}"/></linearGradient></defs>)svg" "\n",
                     share_colour(0), share_colour(1));
  out << fmt::format(R"svg(<rect width="{}" height="{}" fill="#ffffff"/>)svg" "\n", WIDTH, HEIGHT);
  out << fmt::format(R"svg(<text x="{}" y="24" font-size="16">{}</text>)svg" "\n", TIMELINE_LEFT, xml_escape(title));
  out << fmt::format(R"svg(<text x="{}" y="44">{} tile entries, {} samples, clock {} Hz, span {} cycles</text>)svg" "\n",
                     TIMELINE_LEFT, statistics.tile_entries, statistics.samples, statistics.clock_hz,
                     statistics.span_cycles());
  const TimeWindow window{.first_cycle = statistics.first_cycle.value_or(0), .span_cycles = statistics.span_cycles()};
  write_timeline_bars(profile, window, out);
  write_timeline_axes(statistics, window, out);
  write_card_map(statistics, out);
  write_legend(out);
  out << "</svg>\n";
}

}  // namespace zlu_profile
