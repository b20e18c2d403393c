#include "diff.hpp"

#include <algorithm>
#include <cstdlib>

#include <fmt/format.h>

#include "summary.hpp"

namespace zlu_profile {
namespace {

std::uint64_t magnitude(const CycleMove& move) {
  return move.new_cycles > move.old_cycles ? move.new_cycles - move.old_cycles : move.old_cycles - move.new_cycles;
}

// "+146569, +12.2%"; "unchanged"; "+12, new" for a count that was 0.
std::string render_move(const CycleMove& move) {
  if (move.old_cycles == move.new_cycles) return fmt::format("{} (unchanged)", move.new_cycles);
  std::string relative = "new";
  if (move.old_cycles != 0) {
    relative = fmt::format("{:+.1f}%", 100.0 * static_cast<double>(move.change()) / static_cast<double>(move.old_cycles));
  }
  return fmt::format("{} -> {} ({:+}, {})", move.old_cycles, move.new_cycles, move.change(), relative);
}

nlohmann::json move_json(const CycleMove& move) {
  return {{"old", move.old_cycles}, {"new", move.new_cycles}, {"change", move.change()}};
}

// Every tile of either profile with its cycles of each kind in both, by
// physical number: the two statistics list their tiles in ascending order.
std::vector<std::pair<std::uint32_t, std::array<CycleMove, STEP_KINDS.size()>>> paired_tiles(
    const ProfileStatistics& old_profile, const ProfileStatistics& new_profile) {
  std::vector<std::pair<std::uint32_t, std::array<CycleMove, STEP_KINDS.size()>>> paired;
  auto old_tile = old_profile.tiles.begin();
  auto new_tile = new_profile.tiles.begin();
  while (old_tile != old_profile.tiles.end() || new_tile != new_profile.tiles.end()) {
    const bool take_old = new_tile == new_profile.tiles.end() ||
                          (old_tile != old_profile.tiles.end() && old_tile->physical_tile <= new_tile->physical_tile);
    const bool take_new = old_tile == old_profile.tiles.end() ||
                          (new_tile != new_profile.tiles.end() && new_tile->physical_tile <= old_tile->physical_tile);
    std::array<CycleMove, STEP_KINDS.size()> moves{};
    for (std::size_t k = 0; k < STEP_KINDS.size(); ++k) {
      if (take_old) moves[k].old_cycles = old_tile->cycles[k];
      if (take_new) moves[k].new_cycles = new_tile->cycles[k];
    }
    paired.emplace_back(take_old ? old_tile->physical_tile : new_tile->physical_tile, moves);
    if (take_old) ++old_tile;
    if (take_new) ++new_tile;
  }
  return paired;
}

}  // namespace

std::int64_t CycleMove::change() const {
  return static_cast<std::int64_t>(new_cycles) - static_cast<std::int64_t>(old_cycles);
}

ProfileDiff diff_profiles(const ProfileStatistics& old_profile, const ProfileStatistics& new_profile,
                          std::string old_file, std::string new_file) {
  ProfileDiff diff;
  diff.old_file = std::move(old_file);
  diff.new_file = std::move(new_file);
  for (std::size_t k = 0; k < STEP_KINDS.size(); ++k)
    diff.kinds[k] = {old_profile.kind_cycles[k], new_profile.kind_cycles[k]};
  diff.span = {old_profile.span_cycles(), new_profile.span_cycles()};

  const auto tiles = paired_tiles(old_profile, new_profile);
  for (std::size_t k = 0; k < STEP_KINDS.size(); ++k) {
    std::vector<TileMove>& moved = diff.moved_tiles[k];
    for (const auto& [physical, moves] : tiles) {
      if (moves[k].old_cycles == moves[k].new_cycles) continue;
      TileMove move{.physical_tile = physical, .location = std::nullopt, .cycles = moves[k]};
      if (physical < zlu_exchange::N700_TILES) {
        move.location = zlu_exchange::physical_location(static_cast<std::uint16_t>(physical));
      }
      moved.push_back(move);
    }
    // Stable: among equal changes the lower tile number stays first.
    std::ranges::stable_sort(moved, std::greater<>{}, [](const TileMove& m) { return magnitude(m.cycles); });
    if (moved.size() > RANKED_TILES) moved.resize(RANKED_TILES);
  }
  return diff;
}

std::string render_diff(const ProfileDiff& diff) {
  std::string text = fmt::format("old: {}\nnew: {}\ncycles by step kind:\n", diff.old_file, diff.new_file);
  for (ProfileStepKind kind : STEP_KINDS)
    text += fmt::format("  {}: {}\n", kind_name(kind), render_move(diff.kinds[kind_index(kind)]));
  text += fmt::format("  span: {}\ntiles that moved most, by kind:\n", render_move(diff.span));
  for (ProfileStepKind kind : STEP_KINDS) {
    const std::vector<TileMove>& moved = diff.moved_tiles[kind_index(kind)];
    text += fmt::format("  {}:{}\n", kind_name(kind), moved.empty() ? " none" : "");
    for (const TileMove& tile : moved) {
      const std::string where = tile.location ? fmt::format("row {}, position {}", tile.location->row,
                                                            tile.location->position)
                                              : std::string("outside the card");
      text += fmt::format("    tile {} ({}): {}\n", tile.physical_tile, where, render_move(tile.cycles));
    }
  }
  return text;
}

nlohmann::json diff_json(const ProfileDiff& diff) {
  nlohmann::json kinds = nlohmann::json::array();
  nlohmann::json tiles = nlohmann::json::object();
  for (ProfileStepKind kind : STEP_KINDS) {
    nlohmann::json entry = move_json(diff.kinds[kind_index(kind)]);
    entry["kind"] = kind_name(kind);
    kinds.push_back(std::move(entry));
    nlohmann::json moved = nlohmann::json::array();
    for (const TileMove& tile : diff.moved_tiles[kind_index(kind)]) {
      nlohmann::json item = move_json(tile.cycles);
      item["physical_tile"] = tile.physical_tile;
      item["row"] = tile.location ? nlohmann::json(tile.location->row) : nlohmann::json(nullptr);
      item["position"] = tile.location ? nlohmann::json(tile.location->position) : nlohmann::json(nullptr);
      moved.push_back(std::move(item));
    }
    tiles[std::string(kind_name(kind))] = std::move(moved);
  }
  return {{"old", diff.old_file}, {"new", diff.new_file}, {"kinds", std::move(kinds)},
          {"span", move_json(diff.span)}, {"moved_tiles", std::move(tiles)}};
}

}  // namespace zlu_profile
