// The worker count and stack size, from the options and the environment.
#pragma once

#include <cstddef>
#include <expected>
#include <string>

#include "options/options.hpp"

namespace harness {

// The worker count: the command line, else the environment, else the
// processors available, else 1; an error message for a bad environment value.
std::expected<std::size_t, std::string> worker_count(const TestOpts& opts, const EnvLookup& env);

// The worker thread stack size: the environment's minimum (raised to the
// least stack a test is run with), else 2 MiB; parse_opts has already refused
// a value that is not a positive decimal.
std::size_t worker_stack_size(const EnvLookup& env);

}  // namespace harness
