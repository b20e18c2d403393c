// The cycle gate of one run: judges each attempt's cycle summary against the
// baseline, and collects the summaries a blessing run writes as the new one.
#pragma once

#include <expected>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cycles/baseline.hpp"
#include "cycles/cycle_options.hpp"
#include "run/result.hpp"

namespace harness {

class CycleGate {
  // Built once before any test starts and shared by the workers; judge and
  // keep may be called from any of them. The blessed entries are guarded by
  // a mutex; everything else is fixed at construction.
 public:
  // The gate of `options`, reading the baseline when one is set. The error
  // names the file and the fault; the run must stop before any test starts.
  static std::expected<CycleGate, std::string> open(const CycleOptions& options);

  CycleGate(CycleGate&& other) noexcept;
  CycleGate& operator=(CycleGate&&) = delete;

  // The judgement of the attempt of `test` whose measurements are
  // `measurements`. Without a baseline every summary is NoEntry.
  CycleJudgement judge(std::string_view test, const Measurements& measurements) const;

  // Keeps the summary among `measurements`, if any, as the entry of `test`
  // to bless; a later call for the same test replaces it.
  void keep(std::string_view test, const Measurements& measurements, WallClock::time_point blessed_at);

  // Writes the blessed baseline when the run blesses one: the file's entries
  // (read now, so that a baseline blessed by another run meanwhile is kept),
  // with those of the tests kept here replaced where their counts moved, and
  // added where the file has none. Nothing to do without
  // ZLU_TEST_CYCLE_BLESS. The error names the file.
  std::expected<void, std::string> bless() const;

  bool blesses() const { return options_.bless.has_value(); }
  // Whether tries are judged: a baseline is set.
  bool judges() const { return options_.baseline.has_value(); }

 private:
  CycleGate(CycleOptions options, Baseline baseline);

  CycleOptions options_;
  Baseline baseline_;
  std::string build_;
  mutable std::mutex mutex_;
  Baseline kept_;
};

// The cycle summary among `measurements`, or null.
const CycleSummary* cycle_summary_of(const Measurements& measurements);

}  // namespace harness
