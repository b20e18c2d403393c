// zlu-randomized-e2e: runs the static D2D exchange graph chosen by
// ZLU_RANDOM_SEED on the card model and checks it against a host replay.
#include "model_runner.hpp"
#include "random_graph.hpp"

int main() {
  using namespace zlu_random;
  return zlu_runner::run_on_model_card(RUNNER, read_random_seed, [](std::uint64_t seed, zlu_card::Card& card) {
    return run_random_graph(make_random_graph(seed, card.tile_count()), card);
  });
}
