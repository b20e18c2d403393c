// The suite's entry: reads the suite's own settings, installs the card pool,
// hands the arguments and the test table to the harness and stops the runners
// still going before the process ends.
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "cards/card_settings.hpp"
#include "cards/device.hpp"
#include "cards/quarantine_watch.hpp"
#include "catalogue/table.hpp"
#include "harness/src/reports/io_error.hpp"
#include "history/history_run.hpp"
#include "launch/runner_process.hpp"
#include "launch/runner_profile.hpp"
#include "launch/runner_timeout.hpp"
#include "timeline/timeline.hpp"
#include "zlu-base/src/atomic_file.hpp"
#include "zlu-base/src/fd.hpp"

namespace hardware_e2e {

namespace {

constexpr int SETTINGS_REFUSED = 101;

std::optional<std::string> process_setting(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// Reads the card settings and installs the pool; the line refusing them otherwise.
std::expected<CardSettings, std::string> prepare_cards() {
  auto settings = read_card_settings(process_setting);
  if (!settings) return std::unexpected(settings.error());
  auto folder = LockFolder::open(settings->lock_dir, !settings->lock_dir_given);
  if (!folder) return std::unexpected(folder.error());
  // Every run takes its cards back from what a killed suite left behind:
  // without that, a run on the default card would wait for them forever.
  auto pool = std::make_unique<CardPool>(settings->cards, std::move(*folder), settings->cards_listed, true);
  if (auto usable = pool->check_lock_files(); !usable) return std::unexpected(usable.error());
  if (settings->quarantine) {
    auto records = LockFolder::open(settings->lock_dir, !settings->lock_dir_given);
    if (!records) return std::unexpected(records.error());
    harness::watch_card_health(quarantine_watch(*pool, std::move(*records)));
  }
  install_device_pool(std::move(pool));
  return settings;
}

void write_timeline(const std::string& path) {
  auto json = timeline_json();
  if (!json) return;
  const auto bytes = std::as_bytes(std::span(json->data(), json->size()));
  // The run has ended: a FIFO that nobody reads must not hold its exit back.
  const zlu_base::ReplaceOptions options{.new_file_mode = 0644,
                                         .fifo_without_reader = zlu_base::FifoWithoutReader::Refuse};
  if (auto written = zlu_base::replace_file(path, bytes, options); !written) {
    zlu_base::write_stderr_line(
        fmt::format("{}: the timeline was not written: {}", TIMELINE_VARIABLE, written.error().describe()));
  }
}

// The suite's settings first, refused before any runner starts; then the run.
int run(int argc, char** argv) {
  if (const char* timeout = std::getenv(RUNNER_TIMEOUT_VARIABLE.data())) {
    auto limit = parse_runner_timeout(timeout);
    if (!limit) {
      harness::write_all(2, limit.error());
      return 101;
    }
    set_runner_timeout(*limit);
  }
  auto settings = prepare_cards();
  if (!settings) {
    zlu_base::write_stderr_line(settings.error());
    return SETTINGS_REFUSED;
  }
  const zlu_base::EnvLookup env = zlu_base::process_environment();
  auto history_settings = read_history_settings(env);
  if (!history_settings) {
    zlu_base::write_stderr_line(history_settings.error());
    return SETTINGS_REFUSED;
  }
  if (settings->timeline) enable_timeline();
  std::vector<std::string> args(argv, argv + argc);
  std::optional<HistoryRun> history;
  if (history_settings->store)
    history.emplace(*history_settings->store, history_settings->rerun_failed, run_facts(args, env));
  const int status =
      history ? harness::test_main_extended(args, tests(), *history) : harness::test_main_static(args, tests());
  // A run that ended early (fail-fast, a report that cannot be written, a
  // signal) may leave tests running: none may start a runner now, and the
  // runners already started are stopped before the process ends.
  stop_runners_and_wait();
  remove_profile_folder();
  if (settings->timeline) write_timeline(*settings->timeline);
  if (history) history->run_ended(status);
  return status;
}

}  // namespace

}  // namespace hardware_e2e

int main(int argc, char** argv) { return hardware_e2e::run(argc, argv); }
