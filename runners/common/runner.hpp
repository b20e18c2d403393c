// What every runner shares: its exit contract, configuration parsing, fault
// injection, host-write jitter and its cycle profile.
//
// A runner's main reads its whole environment once into a plain struct, and
// only then runs:
//
//   int main() {
//     const auto env = zlu_runner::process_environment();
//     auto faults = zlu_runner::take_sim_faults("zlu-x-e2e", env, no_runner_actions);
//     if (!faults) return zlu_runner::finish("zlu-x-e2e", std::unexpected(faults.error()));
//     auto config = read_config(env);   // -> std::expected<Config, Failure>
//     auto profile = zlu_runner::read_profile_output(env);
//     ...
//     zlu_card::Card card(zlu_runner::card_options(*faults));
//     return zlu_runner::finish("zlu-x-e2e", zlu_runner::with_profile(run(*config, card), card, *profile));
//   }
//
// A runner that reads one scenario and runs it on a model card has all of
// that in one call, run_on_model_card (model_runner.hpp).
#pragma once

#include "card_fault.hpp"
#include "card_id.hpp"
#include "contract.hpp"
#include "card_io.hpp"
#include "environment.hpp"
#include "jitter.hpp"
#include "outcome.hpp"
#include "profile_output.hpp"
#include "sim_fault.hpp"

namespace zlu_runner {

// An ActionFilter for runners without actions of their own.
inline bool no_runner_actions(std::string_view) { return false; }

}  // namespace zlu_runner
