// The profile path of the blocked GEMM test.
#pragma once

#include <string>
#include <sys/types.h>

namespace hardware_e2e {

std::string gemm_profile_path(const char* tmpdir, pid_t pid);
// "<dir>/zlu-stack-gemm-profile-<pid>.capnp" with <dir> the value of
// `tmpdir` unchanged when it is set and not empty, else "/tmp". One "/" joins
// them unless the directory already ends in "/".

}  // namespace hardware_e2e
