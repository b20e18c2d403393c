// A table with the names of the hardware suite's 23 tests, in its stored
// order, whose bodies do nothing: enough to exercise selection and listing.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "lib.hpp"

namespace harness::testing {

inline constexpr std::array<std::string_view, 23> hardware_test_names{
    "all_tile_permutation_works",
    "all_tile_reduction_works",
    "blocked_gemm_with_cycle_profile_works",
    "compiler_segmented_allocation_executes_on_hardware",
    "direct_multicast_works",
    "distinct_sources_can_write_disjoint_host_ranges",
    "flash_attention_matches_host_softmax_across_encoder_shapes",
    "h2d_compute_d2d_compute_d2h_works",
    "high_address_large_h2d_and_d2h_work",
    "host_routes_cover_every_endpoint_field",
    "initialized_d2d_relay_and_d2h_work",
    "initialized_local_tile_d2h_works",
    "initialized_remote_tile_d2h_works",
    "large_h2d_timed_relay_and_d2h_composition_works",
    "local_h2d_and_d2h_round_trip_works",
    "multicast_receiver_can_send_in_same_phase",
    "randomized_multi_tile_host_round_trips_work",
    "randomized_static_d2d_graphs_work",
    "remote_tile_h2d_and_d2h_work",
    "repeated_h2d_and_d2h_works",
    "resident_h2d_and_repeated_d2h_work",
    "resident_h2d_then_d2h_works",
    "sparse_compute_to_dense_exchange_works",
};

inline void empty_body() {}

inline TestDescAndFn entry(std::string_view name) {
  TestDesc desc;
  desc.name = name;
  desc.source_path = "tests/hardware_e2e";
  desc.test_type = TestType::IntegrationTest;
  return TestDescAndFn{desc, empty_body};
}

inline std::vector<TestDescAndFn> hardware_table() {
  std::vector<TestDescAndFn> table;
  for (const std::string_view name : hardware_test_names) table.push_back(entry(name));
  return table;
}

inline std::vector<std::string> names_of(const std::vector<TestDescAndFn>& tests) {
  std::vector<std::string> names;
  for (const TestDescAndFn& test : tests) names.emplace_back(test.desc.name);
  return names;
}

}  // namespace harness::testing
