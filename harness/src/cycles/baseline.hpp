// A cycle baseline: what each test's attempts counted when the baseline was
// blessed, kept as a JSON file meant to be committed, and the comparison of a
// new attempt's counts with it.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cycles/cycle_options.hpp"
#include "lib.hpp"

namespace harness {

// Cycles by CYCLE_QUANTITIES index: the four step kinds, then the span.
using CycleQuantities = std::array<std::uint64_t, CYCLE_QUANTITIES.size()>;

struct CycleProvenance {
  // Where an entry's counts came from: the suite's build, what counted them
  // (the card model or a card's kind), and when they were blessed (UTC,
  // ISO 8601).
  std::string build;
  std::string card;
  std::string blessed;
  friend bool operator==(const CycleProvenance&, const CycleProvenance&) = default;
};

struct BaselineEntry {
  CycleQuantities cycles{};
  CycleProvenance provenance;
  friend bool operator==(const BaselineEntry&, const BaselineEntry&) = default;
};

// The entries by test name, in name order.
using Baseline = std::map<std::string, BaselineEntry, std::less<>>;

// The version of the file's layout, written as "format".
inline constexpr int BASELINE_FORMAT = 1;

// The quantities a summary holds, in baseline order.
CycleQuantities quantities_of(const CycleSummary& summary);

// Parses a baseline document. The error says what is wrong and where, e.g.
// "test \"x\": cycles.exchange is missing" or the JSON syntax error with its
// line and column.
std::expected<Baseline, std::string> parse_baseline(std::string_view text);

// Reads and parses the file at `path`; the error names the file and the
// fault, operating-system or content.
std::expected<Baseline, std::string> read_baseline(const std::string& path);

// The document of `baseline`: keys sorted at every level, two-space indent,
// one final line feed, so that a change to one test is a change to its lines.
std::string render_baseline(const Baseline& baseline);

// Replaces the file at `path` with the document of `baseline`, atomically:
// readers see the old file or the new one. The error names the file.
std::expected<void, std::string> write_baseline(const std::string& path, const Baseline& baseline);

struct CycleChange {
  // One quantity that moved: its CYCLE_QUANTITIES index, the baseline's
  // count, the attempt's, and the growth the tolerance allowed.
  std::size_t quantity = 0;
  std::uint64_t before = 0;
  std::uint64_t after = 0;
  PartsPerMillion allowed = 0;
  friend bool operator==(const CycleChange&, const CycleChange&) = default;
};

enum class CycleVerdict {
  NoProfile,  // the attempt carries no cycle summary: no runner wrote a profile
  NoEntry,    // the baseline has no entry for the test
  Unchanged,  // every quantity at its baseline, or grown within the tolerance
  Improved,   // some quantity below its baseline and none over its limit
  Regressed,  // some quantity over its baseline by more than the tolerance
};

struct CycleJudgement {
  CycleVerdict verdict = CycleVerdict::NoProfile;
  // Regressed: each quantity over its limit; Improved: each one below its
  // baseline; else empty. In CYCLE_QUANTITIES order.
  std::vector<CycleChange> changes;
};

// Judges `summary` (null: none attached) against `entry` (null: none).
CycleJudgement judge_cycles(const BaselineEntry* entry, const CycleSummary* summary, const CycleTolerance& tolerance);

// One line per change, e.g. "exchange cycles 1204332 -> 1350901 (+12.2%,
// allowed +0%)" for a regression and "idle cycles 90 -> 45 (-50%)" for an
// improvement (as "-50.0%"); lines joined by line feeds, none after the last.
std::string render_changes(const CycleJudgement& judgement);

}  // namespace harness
