// zlu-host-e2e: H2D and D2H round trips and their compositions on the card
// model, configured by the ZLU_HOST_TEST_ variables.
#include "card.hpp"
#include "host_config.hpp"
#include "host_program.hpp"
#include "runner.hpp"

int main() {
  using namespace zlu_host;
  const auto env = zlu_runner::process_environment();
  const auto name = zlu_runner::report_name(RUNNER, env);
  if (!name) return zlu_runner::finish(RUNNER, std::unexpected(name.error()));
  if (auto faults = zlu_runner::take_sim_faults(RUNNER, env, zlu_runner::no_runner_actions); !faults) {
    return zlu_runner::finish(*name, std::unexpected(faults.error()));
  }
  const auto config = read_host_config(env);
  if (!config) return zlu_runner::finish(*name, std::unexpected(config.error()));
  const auto card_options = zlu_runner::card_options(env);
  if (!card_options) return zlu_runner::finish(*name, std::unexpected(card_options.error()));
  zlu_card::Card card(*card_options);
  return zlu_runner::finish(*name, run_host_program(*config, card));
}
