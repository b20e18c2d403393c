// The test table of the suite and the entry that runs it.
#pragma once

#include <span>

#include "harness/src/lib.hpp"

namespace hardware_e2e {

std::span<const harness::TestDescAndFn> tests();
// The 23 tests, sorted by name in byte order; the harness runs them in this order.

int main(int argc, char** argv);
// Hands the process arguments and the table to the harness; returns the exit status.

}  // namespace hardware_e2e
