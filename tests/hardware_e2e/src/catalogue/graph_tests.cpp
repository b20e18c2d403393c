#include <optional>

#include "catalogue/catalogue.hpp"
#include "cards/device.hpp"
#include "launch/exit_status.hpp"
#include "launch/runner_command.hpp"

namespace hardware_e2e {

namespace {

// One direct launch with the caller holding the guard: the runner, its
// ZLU_GRAPH_TEST scenario if it takes one, and the two texts.
void run_direct(const DeviceGuard& card, std::string_view runner, std::optional<std::string_view> scenario,
                std::string_view launch_text, std::string_view capability,
                std::source_location location = std::source_location::current()) {
  RunnerCommand command = runner_command(runner, card);
  if (scenario) command.add_env(zlu_contract::GRAPH_TEST, std::string(*scenario));
  require_success(capability, run_or_fail(command, launch_text, location), location);
}

}  // namespace

void direct_multicast_works() {
  auto card = device();
  run_direct(card, GRAPH_RUNNER, "fanout", "launch direct multicast hardware test runner",
             "single-source multicast graph");
}

void all_tile_reduction_works() {
  auto card = device();
  run_direct(card, GRAPH_RUNNER, "reduction", "launch reduction hardware test runner", "all-tile reduction graph");
}

void all_tile_permutation_works() {
  auto card = device();
  run_direct(card, GRAPH_RUNNER, "permutation", "launch permutation hardware test runner",
             "all-tile permutation graph");
}

void sparse_compute_to_dense_exchange_works() {
  auto card = device();
  run_direct(card, GRAPH_RUNNER, "reduction-permutation", "launch compute-to-exchange hardware test runner",
             "sparse compute followed by an all-tile exchange");
}

void multicast_receiver_can_send_in_same_phase() {
  auto card = device();
  run_direct(card, GRAPH_RUNNER, "multicast", "launch multicast hardware test runner",
             "multicast graph with a receiver that sends in the same phase");
}

void compiler_segmented_allocation_executes_on_hardware() {
  auto card = device();
  run_direct(card, GRAPH_RUNNER, "compiler-segmented-add", "launch compiler allocation hardware test runner",
             "compiler-generated add spanning segmented SRAM arenas");
}

void flash_attention_matches_host_softmax_across_encoder_shapes() {
  auto card = device();
  run_direct(card, ATTENTION_RUNNER, std::nullopt, "launch FlashAttention hardware test runner",
             "FP16 FlashAttention for encoder head dimensions and batch sizes");
}

}  // namespace hardware_e2e
