// The four step kinds as the tool names, orders and colours them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "zlu-package/src/lib.hpp"

namespace zlu_profile {

using zlu_package::ProfileStepKind;

// Every kind in the order of the profile model; per-kind tables index by it.
inline constexpr std::array<ProfileStepKind, 4> STEP_KINDS = {
    ProfileStepKind::Exchange, ProfileStepKind::Compute, ProfileStepKind::Synchronization,
    ProfileStepKind::Idle};

constexpr std::size_t kind_index(ProfileStepKind kind) { return static_cast<std::size_t>(kind); }

// Lower-case name used in summaries, trace categories and legends.
constexpr std::string_view kind_name(ProfileStepKind kind) {
  constexpr std::array<std::string_view, 4> names = {"exchange", "compute", "synchronization", "idle"};
  return names[kind_index(kind)];
}

// Fill colour of a kind in pictures, as "#rrggbb". The colours are far apart
// so that a rendering can be checked for each of them.
constexpr std::string_view kind_colour(ProfileStepKind kind) {
  constexpr std::array<std::string_view, 4> colours = {"#1c64d2", "#23a047", "#e8590c", "#a9b1ba"};
  return colours[kind_index(kind)];
}

}  // namespace zlu_profile
