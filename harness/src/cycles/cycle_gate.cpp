#include "cycles/cycle_gate.hpp"

#include <cerrno>
#include <unistd.h>

#include <fmt/format.h>

#include "reports/time_format.hpp"
#include "zlu-base/src/build_id.hpp"

namespace harness {

const CycleSummary* cycle_summary_of(const Measurements& measurements) {
  for (const Measurement& measurement : measurements)
    if (const auto* summary = std::get_if<CycleSummary>(&measurement)) return summary;
  return nullptr;
}

std::expected<CycleGate, std::string> CycleGate::open(const CycleOptions& options) {
  Baseline baseline;
  if (options.baseline) {
    auto read = read_baseline(*options.baseline);
    if (!read) return std::unexpected(read.error());
    baseline = std::move(*read);
  }
  return CycleGate(options, std::move(baseline));
}

CycleGate::CycleGate(CycleOptions options, Baseline baseline)
    : options_(std::move(options)), baseline_(std::move(baseline)), build_(zlu_base::executable_build_id()) {}

CycleGate::CycleGate(CycleGate&& other) noexcept
    : options_(std::move(other.options_)),
      baseline_(std::move(other.baseline_)),
      build_(std::move(other.build_)),
      kept_(std::move(other.kept_)) {}

CycleJudgement CycleGate::judge(std::string_view test, const Measurements& measurements) const {
  const auto entry = baseline_.find(test);
  return judge_cycles(entry == baseline_.end() ? nullptr : &entry->second, cycle_summary_of(measurements),
                      options_.tolerance);
}

void CycleGate::keep(std::string_view test, const Measurements& measurements, WallClock::time_point blessed_at) {
  const CycleSummary* summary = cycle_summary_of(measurements);
  if (!options_.bless || summary == nullptr) return;
  BaselineEntry entry{quantities_of(*summary), {build_, summary->card, render_utc_time(blessed_at, UtcDigits::Seconds)}};
  const std::lock_guard lock(mutex_);
  kept_.insert_or_assign(std::string(test), std::move(entry));
}

std::expected<void, std::string> CycleGate::bless() const {
  if (!options_.bless) return {};
  Baseline blessed;
  // A file that is not there yet starts empty; one that cannot be read must
  // not be overwritten with only this run's tests.
  if (access(options_.bless->c_str(), F_OK) == 0 || errno != ENOENT) {
    auto existing = read_baseline(*options_.bless);
    if (!existing) return std::unexpected(fmt::format("{}; the baseline was not blessed", existing.error()));
    blessed = std::move(*existing);
  }
  {
    const std::lock_guard lock(mutex_);
    for (const auto& [name, entry] : kept_) {
      // Counts that did not move keep the provenance they were blessed with,
      // so that the file changes only where the counts did.
      const auto existing = blessed.find(name);
      if (existing == blessed.end() || existing->second.cycles != entry.cycles) blessed.insert_or_assign(name, entry);
    }
  }
  return write_baseline(*options_.bless, blessed);
}

}  // namespace harness
