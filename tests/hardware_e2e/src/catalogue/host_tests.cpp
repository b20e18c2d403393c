#include "catalogue/catalogue.hpp"
#include "cards/device.hpp"
#include "launch/exit_status.hpp"
#include "launch/host_runner.hpp"

namespace hardware_e2e {

void initialized_local_tile_d2h_works() {
  auto card = device();
  require_success("initialized tile D2H", host_test(card, {{zlu_contract::HOST_TEST_D2H_ONLY, "1"}}));
}

void local_h2d_and_d2h_round_trip_works() {
  auto card = device();
  require_success("local H2D and D2H", host_test(card, {}));
}

void resident_h2d_then_d2h_works() {
  auto card = device();
  require_success("resident H2D initialization followed by D2H",
                  host_test(card, {{zlu_contract::HOST_TEST_RESIDENT_INPUT, "1"}}));
}

void repeated_h2d_and_d2h_works() {
  auto card = device();
  require_success("three statically repeated H2D and D2H invocations",
                  host_test(card, {{zlu_contract::HOST_TEST_INVOCATIONS, "3"}}));
}

void resident_h2d_and_repeated_d2h_work() {
  auto card = device();
  require_success("resident H2D initialization followed by three static invocations",
                  host_test(card, {{zlu_contract::HOST_TEST_RESIDENT_INPUT, "1"}, {zlu_contract::HOST_TEST_INVOCATIONS, "3"}}));
}

void initialized_d2d_relay_and_d2h_work() {
  auto card = device();
  require_success("initialized D2D relay and D2H",
                  host_test(card, {{zlu_contract::HOST_TEST_EXCHANGE, "1"}, {zlu_contract::HOST_TEST_INITIALIZED_EXCHANGE, "1"}}));
}

void large_h2d_timed_relay_and_d2h_composition_works() {
  auto card = device();
  require_success("large H2D, timed D2D relay, and D2H composition",
                  host_test(card, {{zlu_contract::HOST_TEST_EXCHANGE, "1"}, {zlu_contract::HOST_TEST_BYTES, "2048"}}));
}

void h2d_compute_d2d_compute_d2h_works() {
  auto card = device();
  require_success("H2D, compute, D2D, compute, and D2H composition",
                  host_test(card, {{zlu_contract::HOST_TEST_COMPUTE_RELAY, "1"}, {zlu_contract::HOST_TEST_BYTES, "4"}}));
}

void remote_tile_h2d_and_d2h_work() {
  auto card = device();
  require_success("remote-tile H2D and D2H",
                  host_test(card, {{zlu_contract::HOST_TEST_TILE, "1471"}, {zlu_contract::HOST_TEST_BYTES, "8192"}}));
}

void high_address_large_h2d_and_d2h_work() {
  auto card = device();
  require_success("64-KiB high-address H2D and D2H",
                  host_test(card, {{zlu_contract::HOST_TEST_TILE, "100"},
                             {zlu_contract::HOST_TEST_BYTES, "65536"},
                             {zlu_contract::HOST_TEST_ADDRESS, "0x60000"}}));
}

void initialized_remote_tile_d2h_works() {
  auto card = device();
  require_success("remote-tile initialized D2H",
                  host_test(card, {{zlu_contract::HOST_TEST_REMOTE_D2H, "1"},
                             {zlu_contract::HOST_TEST_TILE, "1471"},
                             {zlu_contract::HOST_TEST_BYTES, "8192"}}));
}

void distinct_sources_can_write_disjoint_host_ranges() {
  auto card = device();
  require_success("distinct multi-source D2H",
                  host_test(card, {{zlu_contract::HOST_TEST_TILES, "1471,274"}, {zlu_contract::HOST_TEST_BYTES, "64"}}));
}

}  // namespace hardware_e2e
