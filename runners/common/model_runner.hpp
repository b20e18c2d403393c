// The entry of a runner that runs one scenario on a model card: what every
// such runner reads of its environment, in one order, before it runs.
#pragma once

#include <csignal>
#include <string_view>
#include <utility>

#include "card.hpp"
#include "runner.hpp"

namespace zlu_runner {

// Reads the runner's report name, its faults, its scenario
// (`read_scenario(env)`, an std::expected of the scenario or a Failure), its
// profile path and its card's fault, and refuses the first that is wrong in
// that order; then runs `run_scenario(scenario, card)` on a model card,
// writes the card's profile when one is asked for, and returns the runner's
// exit status.
template <typename ReadScenario, typename RunScenario>
int run_on_model_card(std::string_view runner, ReadScenario read_scenario, RunScenario run_scenario) {
  // A profile past the file-size limit is a failed write, not a death.
  std::signal(SIGXFSZ, SIG_IGN);
  const auto env = process_environment();
  const auto name = report_name(runner, env);
  if (!name) return finish(runner, std::unexpected(name.error()));
  const auto faults = take_sim_faults(runner, env, no_runner_actions);
  if (!faults) return finish(*name, std::unexpected(faults.error()));
  auto scenario = read_scenario(env);
  if (!scenario) return finish(*name, std::unexpected(scenario.error()));
  const auto profile = read_profile_output(env);
  if (!profile) return finish(*name, std::unexpected(profile.error()));
  const auto options = with_card_fault(card_options(*faults), env);
  if (!options) return finish(*name, std::unexpected(options.error()));
  zlu_card::Card card(*options);
  return finish(*name, with_profile(run_scenario(std::move(*scenario), card), card, *profile));
}

}  // namespace zlu_runner
