#include "launch/host_runner.hpp"

#include <cstdlib>

namespace hardware_e2e {

void configure_host_write_jitter(RunnerCommand& command) {
  if (const char* max_delay = std::getenv("ZLU_TEST_HOST_WRITE_JITTER_MAX_US")) {
    command.add_env(zlu_contract::HOST_WRITE_JITTER_MAX_US, max_delay);
  }
  if (const char* seed = std::getenv("ZLU_TEST_HOST_WRITE_JITTER_SEED")) {
    command.add_env(zlu_contract::HOST_WRITE_JITTER_SEED, seed);
  }
}

ExitStatus host_test(const DeviceGuard& card, std::span<const EnvPair> environment, std::source_location location) {
  RunnerCommand command = runner_command(HOST_RUNNER, card);
  for (const auto& pair : environment) command.add_env(pair.name, pair.value);
  configure_host_write_jitter(command);
  return run_or_fail(command, "launch host exchange test runner", location);
}

ExitStatus host_test(const DeviceGuard& card, std::initializer_list<EnvPair> environment,
                     std::source_location location) {
  return host_test(card, std::span<const EnvPair>(environment.begin(), environment.size()), location);
}

}  // namespace hardware_e2e
