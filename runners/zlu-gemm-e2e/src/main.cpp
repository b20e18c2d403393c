#include <csignal>

#include "card.hpp"
#include "gemm_card.hpp"
#include "gemm_config.hpp"
#include "runner.hpp"

int main() {
  using namespace zlu_gemm;
  // A profile past the file-size limit is a failed write (EFBIG) that removes
  // its new file, not a death that leaves half of it behind.
  std::signal(SIGXFSZ, SIG_IGN);
  const zlu_runner::EnvLookup env = zlu_runner::process_environment();
  const auto name = zlu_runner::report_name(RUNNER, env);
  if (!name) return zlu_runner::finish(RUNNER, std::unexpected(name.error()));
  auto faults = zlu_runner::take_sim_faults(RUNNER, env, is_gemm_action);
  if (!faults) return zlu_runner::finish(*name, std::unexpected(faults.error()));
  const auto card_options = zlu_runner::with_card_fault(zlu_runner::card_options(*faults), env);
  if (!card_options) return zlu_runner::finish(*name, std::unexpected(card_options.error()));
  zlu_card::Card card(*card_options);
  auto config = read_gemm_config(env, faults->runner_actions, card.tile_count());
  if (!config) return zlu_runner::finish(*name, std::unexpected(config.error()));
  zlu_runner::HostWriteJitter jitter(config->jitter);
  return zlu_runner::finish(*name, run_gemm(card, *config, jitter));
}
