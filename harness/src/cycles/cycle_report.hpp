// How the reports show a try's cycle judgement. A run without a baseline has
// none, and every report stays as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cycles/baseline.hpp"

namespace harness {

// "no profile", "no entry", "unchanged", "improved" or "regressed".
std::string_view cycle_verdict_word(CycleVerdict verdict);

// The console's lines under a passed test's result line: one
// "    cycles improved: <change>" per change, "    cycles: no baseline entry"
// or "    cycles: no profile", each ending in a line feed; nothing for a
// test at its baseline, or without a judgement.
std::string render_cycle_lines(const std::optional<CycleJudgement>& judgement);

}  // namespace harness
