// The shared launcher of the host exchange runner and the forwarding of the
// host-write jitter settings.
#pragma once

#include <initializer_list>
#include <source_location>
#include <span>

#include "launch/exit_status.hpp"
#include "launch/runner_command.hpp"

namespace hardware_e2e {

void configure_host_write_jitter(RunnerCommand& command);
// Adds ZLU_HOST_WRITE_JITTER_MAX_US and then ZLU_HOST_WRITE_JITTER_SEED to
// `command`, each only when ZLU_TEST_HOST_WRITE_JITTER_MAX_US or
// ZLU_TEST_HOST_WRITE_JITTER_SEED is set in this process, copied as raw
// bytes: an empty value is forwarded empty, an unset one adds nothing.

ExitStatus host_test(const DeviceGuard& card, std::span<const EnvPair> environment,
                     std::source_location location = std::source_location::current());
ExitStatus host_test(const DeviceGuard& card, std::initializer_list<EnvPair> environment,
                     std::source_location location = std::source_location::current());
// Starts the host exchange runner on the card `card` holds with
// `environment` in order, then the jitter settings, and returns its exit
// status unjudged. Fails the test with "launch host exchange test runner:
// <os error>" if it cannot be started.

}  // namespace hardware_e2e
