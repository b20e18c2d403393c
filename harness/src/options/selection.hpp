// Which tests of the table a run or a listing takes.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "lib.hpp"
#include "options/options.hpp"

namespace harness {

// Tests chosen by the filters, skips and ignored modes, then cut to the
// partition's slice when there is one, always in table order
// (a listing never shuffles; a run shuffles the selection itself), with their
// ignore marks adjusted; all of them marked ignored when tests are not to run
// (`--bench` alone).
struct Selection {
  std::vector<TestDescAndFn> tests;
  std::size_t filtered_out = 0;
};
Selection select_tests(const TestOpts& opts, std::span<const TestDescAndFn> tests);

}  // namespace harness
