#include "attention_card.hpp"
#include "card.hpp"
#include "runner.hpp"

int main() {
  using namespace zlu_attention;
  auto actions = zlu_runner::take_sim_faults(RUNNER, zlu_runner::process_environment(), zlu_runner::no_runner_actions);
  if (!actions) return zlu_runner::finish(RUNNER, std::unexpected(actions.error()));
  zlu_card::Card card;
  return zlu_runner::finish(RUNNER, run_attention(card, encoder_shapes()));
}
