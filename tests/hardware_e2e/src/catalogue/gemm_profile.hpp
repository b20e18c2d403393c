// The profile path of the blocked GEMM test; the summary of its profile is
// cycle_summary of runner_profile.hpp.
#pragma once

#include <string>
#include <sys/types.h>

#include "launch/runner_profile.hpp"

namespace hardware_e2e {

std::string gemm_profile_path(const char* tmpdir, pid_t pid);
// "<dir>/zlu-stack-gemm-profile-<pid>.capnp" with <dir> the value of
// `tmpdir` unchanged when it is set and not empty, else "/tmp". One "/" joins
// them unless the directory already ends in "/".

}  // namespace hardware_e2e
