// The 23 test bodies of the hardware suite. Each takes the device guard
// first, keeps it as `card` until it ends and hands it to every runner it
// starts.
#pragma once

namespace hardware_e2e {

// Graph and attention runners started directly (graph_tests.cpp).
void direct_multicast_works();
void all_tile_reduction_works();
void all_tile_permutation_works();
void sparse_compute_to_dense_exchange_works();
void multicast_receiver_can_send_in_same_phase();
void compiler_segmented_allocation_executes_on_hardware();
void flash_attention_matches_host_softmax_across_encoder_shapes();

// Host exchange runner through host_test (host_tests.cpp).
void initialized_local_tile_d2h_works();
void local_h2d_and_d2h_round_trip_works();
void resident_h2d_then_d2h_works();
void repeated_h2d_and_d2h_works();
void resident_h2d_and_repeated_d2h_work();
void initialized_d2d_relay_and_d2h_work();
void large_h2d_timed_relay_and_d2h_composition_works();
void h2d_compute_d2d_compute_d2h_works();
void remote_tile_h2d_and_d2h_work();
void high_address_large_h2d_and_d2h_work();
void initialized_remote_tile_d2h_works();
void distinct_sources_can_write_disjoint_host_ranges();

// Seeded scenarios (randomized_tests.cpp).
void randomized_static_d2d_graphs_work();
void randomized_multi_tile_host_round_trips_work();

// Tiles covering every host-route endpoint field (host_route_test.cpp).
void host_routes_cover_every_endpoint_field();

// GEMM with its cycle profile read back and checked (gemm_profile_test.cpp).
void blocked_gemm_with_cycle_profile_works();

}  // namespace hardware_e2e
