// The test table of the suite.
#pragma once

#include <span>

#include "harness/src/lib.hpp"

namespace hardware_e2e {

std::span<const harness::TestDescAndFn> tests();
// The 23 tests, sorted by name in byte order; the harness runs them in this order.

}  // namespace hardware_e2e
