#include "catalogue/table.hpp"

#include <array>
#include <span>
#include <cstdlib>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "cards/card_settings.hpp"
#include "catalogue/catalogue.hpp"
#include "harness/src/reports/io_error.hpp"
#include "launch/runner_process.hpp"
#include "launch/runner_timeout.hpp"
#include "cards/device.hpp"
#include "timeline/timeline.hpp"
#include "zlu-base/src/atomic_file.hpp"
#include "zlu-base/src/fd.hpp"

namespace hardware_e2e {

namespace {

// The descriptor's span covers the test's name on its declaration line.
constexpr harness::TestDescAndFn entry(std::string_view name, unsigned line, harness::TestFn body) {
  harness::TestDesc desc;
  desc.name = name;
  desc.source_path = "tests/hardware_e2e";
  desc.start_line = line;
  desc.start_col = 4;
  desc.end_line = line;
  desc.end_col = 4 + static_cast<unsigned>(name.size());
  desc.test_type = harness::TestType::IntegrationTest;
  return {desc, body};
}

// Each body runs inside a scope that tells the card pool and the timeline
// which test is running on the thread.
#define ZLU_TEST_ENTRY(name, line) \
  entry(#name, line, [] {          \
    TestScope scope(#name);        \
    name();                        \
  })

const std::array<harness::TestDescAndFn, 23> TABLE = {
    ZLU_TEST_ENTRY(all_tile_permutation_works, 235),
    ZLU_TEST_ENTRY(all_tile_reduction_works, 211),
    ZLU_TEST_ENTRY(blocked_gemm_with_cycle_profile_works, 285),
    ZLU_TEST_ENTRY(compiler_segmented_allocation_executes_on_hardware, 95),
    ZLU_TEST_ENTRY(direct_multicast_works, 247),
    ZLU_TEST_ENTRY(distinct_sources_can_write_disjoint_host_ranges, 145),
    ZLU_TEST_ENTRY(flash_attention_matches_host_softmax_across_encoder_shapes, 330),
    ZLU_TEST_ENTRY(h2d_compute_d2d_compute_d2h_works, 83),
    ZLU_TEST_ENTRY(high_address_large_h2d_and_d2h_work, 119),
    ZLU_TEST_ENTRY(host_routes_cover_every_endpoint_field, 157),
    ZLU_TEST_ENTRY(initialized_d2d_relay_and_d2h_work, 59),
    ZLU_TEST_ENTRY(initialized_local_tile_d2h_works, 14),
    ZLU_TEST_ENTRY(initialized_remote_tile_d2h_works, 132),
    ZLU_TEST_ENTRY(large_h2d_timed_relay_and_d2h_composition_works, 71),
    ZLU_TEST_ENTRY(local_h2d_and_d2h_round_trip_works, 23),
    ZLU_TEST_ENTRY(multicast_receiver_can_send_in_same_phase, 259),
    ZLU_TEST_ENTRY(randomized_multi_tile_host_round_trips_work, 183),
    ZLU_TEST_ENTRY(randomized_static_d2d_graphs_work, 271),
    ZLU_TEST_ENTRY(remote_tile_h2d_and_d2h_work, 107),
    ZLU_TEST_ENTRY(repeated_h2d_and_d2h_works, 38),
    ZLU_TEST_ENTRY(resident_h2d_and_repeated_d2h_work, 47),
    ZLU_TEST_ENTRY(resident_h2d_then_d2h_works, 29),
    ZLU_TEST_ENTRY(sparse_compute_to_dense_exchange_works, 223),
};

#undef ZLU_TEST_ENTRY

}  // namespace

std::span<const harness::TestDescAndFn> tests() { return TABLE; }

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

}  // namespace

int main(int argc, char** argv) {
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
  if (settings->timeline) enable_timeline();
  std::vector<std::string> args(argv, argv + argc);
  const int status = harness::test_main_static(args, tests());
  // A run that ended early (fail-fast, a report that cannot be written, a
  // signal) may leave tests running: none may start a runner now, and the
  // runners already started are stopped before the process ends.
  stop_runners_and_wait();
  if (settings->timeline) write_timeline(*settings->timeline);
  return status;
}

}  // namespace hardware_e2e
