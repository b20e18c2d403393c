#include "check.hpp"

#include <algorithm>
#include <string_view>

#include <fmt/format.h>

#include "kinds.hpp"
#include "zlu-exchange/src/lib.hpp"

namespace zlu_profile {
namespace {

// The comparison lines of the any-kind check; the synchronisation one is
// wrapped because the test's source line is.
std::string_view kind_comparison(ProfileStepKind kind) {
  switch (kind) {
    case ProfileStepKind::Exchange:
      return "                    sample.step.kind == zlu_package::ProfileStepKind::Exchange)";
    case ProfileStepKind::Compute:
      return "                    sample.step.kind == zlu_package::ProfileStepKind::Compute)";
    case ProfileStepKind::Synchronization:
      return "                    sample.step.kind ==\n"
             "                        zlu_package::ProfileStepKind::Synchronization)";
    case ProfileStepKind::Idle:
      return "                    sample.step.kind == zlu_package::ProfileStepKind::Idle)";
  }
  return {};
}

std::string missing_kind_message(ProfileStepKind kind) {
  return fmt::format(
      "assertion failed: profile.tiles.iter().any(|tile|\n"
      "        {{\n"
      "            tile.samples.iter().any(|sample|\n"
      "{}\n"
      "        }})",
      kind_comparison(kind));
}

bool has_kind(const zlu_package::ProfileReport& profile, ProfileStepKind kind) {
  return std::ranges::any_of(profile.tiles, [kind](const zlu_package::TileProfile& tile) {
    return std::ranges::any_of(tile.samples, [kind](const zlu_package::CycleSample& sample) {
      return sample.step.kind == kind;
    });
  });
}

}  // namespace

std::optional<std::string> check_profile(const zlu_package::ProfileReport& profile) {
  if (profile.tiles.size() != zlu_exchange::N700_TILES) {
    return fmt::format("assertion `left == right` failed\n  left: {}\n right: {}", profile.tiles.size(),
                       zlu_exchange::N700_TILES);
  }
  if (!(profile.clock_hz > 0)) {
    return "assertion failed: profile.clock_hz > 0";
  }
  if (!std::ranges::all_of(profile.tiles, [](const auto& tile) { return !tile.samples.empty(); })) {
    return "assertion failed: profile.tiles.iter().all(|tile| !tile.samples.is_empty())";
  }
  for (ProfileStepKind kind : STEP_KINDS) {
    if (!has_kind(profile, kind)) {
      return missing_kind_message(kind);
    }
  }
  return std::nullopt;
}

}  // namespace zlu_profile
