// The checks that a profile of the blocked GEMM run must pass.
#pragma once

#include <optional>
#include <string>

#include "zlu-package/src/lib.hpp"

namespace zlu_profile {

// Checks `profile` as the blocked GEMM cycle-profile test does, in its order:
// 1472 tile entries, a positive clock, a sample on every tile, then at least
// one sample of each kind (exchange, compute, synchronisation, idle). Returns
// the failure message of the first check that does not hold, byte for byte as
// the test raises it, or nothing when all hold. Later checks are not made.
std::optional<std::string> check_profile(const zlu_package::ProfileReport& profile);

}  // namespace zlu_profile
