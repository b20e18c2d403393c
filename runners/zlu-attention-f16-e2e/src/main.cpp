#include "attention_card.hpp"
#include "card.hpp"
#include "runner.hpp"

int main() {
  using namespace zlu_attention;
  const auto env = zlu_runner::process_environment();
  const auto name = zlu_runner::report_name(RUNNER, env);
  if (!name) return zlu_runner::finish(RUNNER, std::unexpected(name.error()));
  auto actions = zlu_runner::take_sim_faults(RUNNER, env, zlu_runner::no_runner_actions);
  if (!actions) return zlu_runner::finish(*name, std::unexpected(actions.error()));
  const auto card_options = zlu_runner::card_options(env);
  if (!card_options) return zlu_runner::finish(*name, std::unexpected(card_options.error()));
  zlu_card::Card card(*card_options);
  return zlu_runner::finish(*name, run_attention(card, encoder_shapes()));
}
