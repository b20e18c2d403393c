// The seed and the order of a shuffled run.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "lib.hpp"
#include "options/options.hpp"

namespace harness {

// The seed of the run when shuffling is on (from the options, else the clock),
// or an error message when the clock is before 1970.
std::expected<std::optional<std::uint64_t>, std::string> shuffle_seed(const TestOpts& opts);
// The same, with `now` standing for the wall clock.
std::expected<std::optional<std::uint64_t>, std::string> shuffle_seed_at(
    const TestOpts& opts, std::chrono::system_clock::time_point now);

// Puts `tests` into the order that `seed` and the tests' names determine:
// the order they come in does not matter. The names are sorted, a splitmix64
// generator is seeded with `seed` mixed with the FNV-1a hash of the sorted
// names joined by line ends, and a Fisher–Yates shuffle (unbiased draws by
// rejection) permutes them.
void shuffle_tests(std::uint64_t seed, std::vector<TestDescAndFn>& tests);

}  // namespace harness
