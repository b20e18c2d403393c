// zlu-randomized-e2e: runs the static D2D exchange graph chosen by
// ZLU_RANDOM_SEED on the card model and checks it against a host replay.
#include "card.hpp"
#include "random_graph.hpp"
#include "runner.hpp"

int main() {
  using namespace zlu_random;
  const auto env = zlu_runner::process_environment();
  const auto name = zlu_runner::report_name(RUNNER, env);
  if (!name) return zlu_runner::finish(RUNNER, std::unexpected(name.error()));
  if (auto faults = zlu_runner::take_sim_faults(RUNNER, env, zlu_runner::no_runner_actions); !faults) {
    return zlu_runner::finish(*name, std::unexpected(faults.error()));
  }
  const auto seed = read_random_seed(env);
  if (!seed) return zlu_runner::finish(*name, std::unexpected(seed.error()));
  const auto card_options = zlu_runner::card_options(env);
  if (!card_options) return zlu_runner::finish(*name, std::unexpected(card_options.error()));
  zlu_card::Card card(*card_options);
  return zlu_runner::finish(*name, run_random_graph(make_random_graph(*seed, card.tile_count()), card));
}
