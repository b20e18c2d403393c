#include "cycles/cycle_report.hpp"

#include <fmt/format.h>

namespace harness {

std::string_view cycle_verdict_word(CycleVerdict verdict) {
  switch (verdict) {
    case CycleVerdict::NoProfile: return "no profile";
    case CycleVerdict::NoEntry: return "no entry";
    case CycleVerdict::Unchanged: return "unchanged";
    case CycleVerdict::Improved: return "improved";
    case CycleVerdict::Regressed: return "regressed";
  }
  return "unchanged";
}

std::string render_cycle_lines(const std::optional<CycleJudgement>& judgement) {
  if (!judgement) return {};
  switch (judgement->verdict) {
    case CycleVerdict::NoProfile: return "    cycles: no profile\n";
    case CycleVerdict::NoEntry: return "    cycles: no baseline entry\n";
    case CycleVerdict::Unchanged:
    case CycleVerdict::Regressed: return {};
    case CycleVerdict::Improved: break;
  }
  std::string lines;
  const CycleJudgement one_by_one{judgement->verdict, {}};
  for (const CycleChange& change : judgement->changes) {
    CycleJudgement single = one_by_one;
    single.changes.push_back(change);
    lines += fmt::format("    cycles improved: {}\n", render_changes(single));
  }
  return lines;
}

}  // namespace harness
