// zlu-attention-f16-e2e: FP16 attention over the encoder shapes on the card
// model, checked against a host softmax.
#include <csignal>

#include "attention_card.hpp"
#include "card.hpp"
#include "runner.hpp"

int main() {
  using namespace zlu_attention;
  // A profile past the file-size limit is a failed write, not a death.
  std::signal(SIGXFSZ, SIG_IGN);
  const auto env = zlu_runner::process_environment();
  const auto name = zlu_runner::report_name(RUNNER, env);
  if (!name) return zlu_runner::finish(RUNNER, std::unexpected(name.error()));
  const auto faults = zlu_runner::take_sim_faults(RUNNER, env, zlu_runner::no_runner_actions);
  if (!faults) return zlu_runner::finish(*name, std::unexpected(faults.error()));
  const auto profile = zlu_runner::read_profile_output(env);
  if (!profile) return zlu_runner::finish(*name, std::unexpected(profile.error()));
  const auto card_options = zlu_runner::with_card_fault(zlu_runner::card_options(*faults), env);
  if (!card_options) return zlu_runner::finish(*name, std::unexpected(card_options.error()));
  zlu_card::Card card(*card_options);
  return zlu_runner::finish(*name, zlu_runner::with_profile(run_attention(card, encoder_shapes()), card, *profile));
}
