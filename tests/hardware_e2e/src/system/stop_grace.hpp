// How long a process asked to stop is given: shared by the runner launch and
// the reclaim of cards from a killed suite's leftover runners.
#pragma once

#include <chrono>

namespace hardware_e2e {

inline constexpr std::chrono::seconds RUNNER_STOP_GRACE{2};
// How long a runner asked to stop (SIGTERM) has before it is killed (SIGKILL).

}  // namespace hardware_e2e
