// The test table of the suite and the entry that runs it.
#pragma once

#include <span>

#include "harness/src/lib.hpp"

namespace hardware_e2e {

// The 23 tests, sorted by name in byte order; the harness runs them in this order.
std::span<const harness::TestDescAndFn> tests();

// Hands the process arguments and the table to the harness; returns the exit status.
int main(int argc, char** argv);

}  // namespace hardware_e2e
