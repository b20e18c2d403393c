#include "cycles/cycle_gate.hpp"

#include <cerrno>
#include <link.h>
#include <unistd.h>

#include <fmt/format.h>

#include "reports/time_format.hpp"

namespace harness {
namespace {

constexpr std::uint32_t NT_BUILD_ID = 3;  // NT_GNU_BUILD_ID

// Finds the build-id note among the program headers of the executable, the
// first object dl_iterate_phdr reports.
int find_build_id(dl_phdr_info* info, std::size_t, void* data) {
  auto* id = static_cast<std::string*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_NOTE) continue;
    const auto* note = reinterpret_cast<const unsigned char*>(info->dlpi_addr + header.p_vaddr);
    const auto* end = note + header.p_memsz;
    while (note + sizeof(ElfW(Nhdr)) <= end) {
      const auto* nhdr = reinterpret_cast<const ElfW(Nhdr)*>(note);
      const auto* name = note + sizeof(ElfW(Nhdr));
      const auto* desc = name + ((nhdr->n_namesz + 3) & ~3u);
      if (nhdr->n_type == NT_BUILD_ID && nhdr->n_namesz == 4 && std::string_view(reinterpret_cast<const char*>(name), 3) == "GNU") {
        for (ElfW(Word) b = 0; b < nhdr->n_descsz; ++b) *id += fmt::format("{:02x}", desc[b]);
        return 1;
      }
      note = desc + ((nhdr->n_descsz + 3) & ~3u);
    }
  }
  return 1;
}

}  // namespace

const CycleSummary* cycle_summary_of(const Measurements& measurements) {
  for (const Measurement& measurement : measurements)
    if (const auto* summary = std::get_if<CycleSummary>(&measurement)) return summary;
  return nullptr;
}

std::string suite_build_id() {
  std::string id;
  dl_iterate_phdr(find_build_id, &id);
  return id.empty() ? "unknown" : "gnu-build-id:" + id;
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
    : options_(std::move(options)), baseline_(std::move(baseline)), build_(suite_build_id()) {}

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
  BaselineEntry entry{quantities_of(*summary), {build_, summary->card, render_utc_time(blessed_at, false)}};
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
