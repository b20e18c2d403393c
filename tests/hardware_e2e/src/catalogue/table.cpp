#include "catalogue/table.hpp"

#include <array>
#include <span>
#include <string>

#include "catalogue/catalogue.hpp"
#include "cards/device.hpp"
#include "timeline/timeline.hpp"

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

}  // namespace hardware_e2e
