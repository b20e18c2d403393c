// The profile path of the blocked GEMM test, and the summary of its profile
// that the test attaches to its attempt.
#pragma once

#include <string>
#include <sys/types.h>

#include "harness/src/lib.hpp"
#include "zlu-package/src/lib.hpp"

namespace hardware_e2e {

std::string gemm_profile_path(const char* tmpdir, pid_t pid);
// "<dir>/zlu-stack-gemm-profile-<pid>.capnp" with <dir> the value of
// `tmpdir` unchanged when it is set and not empty, else "/tmp". One "/" joins
// them unless the directory already ends in "/".

harness::CycleSummary cycle_summary(const zlu_package::ProfileReport& profile);
// What the card counted in `profile`, as the profile tool's summary ranks it:
// cycles per step kind, the span from the earliest start to the latest end,
// and the tile with the most busy (not idle) cycles, ties going to the lower
// number. Zeros for a profile without samples.

}  // namespace hardware_e2e
