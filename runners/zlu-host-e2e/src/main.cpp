// zlu-host-e2e: H2D and D2H round trips and their compositions on the card
// model, configured by the ZLU_HOST_TEST_ variables.
#include "host_config.hpp"
#include "host_program.hpp"
#include "model_runner.hpp"

int main() {
  return zlu_runner::run_on_model_card(zlu_host::RUNNER, zlu_host::read_host_config, zlu_host::run_host_program);
}
