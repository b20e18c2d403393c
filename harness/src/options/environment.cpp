#include "options/environment.hpp"

#include <algorithm>
#include <climits>
#include <fmt/format.h>
#include <pthread.h>
#include <sched.h>
#include <thread>

#include "zlu-base/src/decimal.hpp"
#include "options/options.hpp"
#include "zlu-base/src/stack.hpp"

namespace harness {
namespace {

std::size_t processors_available() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    if (const int count = CPU_COUNT(&set); count > 0) return static_cast<std::size_t>(count);
  }
  // More processors than a fixed cpu_set_t holds, or no affinity support.
  if (const unsigned count = std::thread::hardware_concurrency(); count > 0) return count;
  return 1;
}

}  // namespace

std::expected<std::size_t, std::string> worker_count(const TestOpts& opts, const EnvLookup& env) {
  if (opts.test_threads) return *opts.test_threads;
  if (const auto value = env(std::string(TEST_THREADS_VAR))) {
    const auto number = zlu_base::parse_decimal_u64(*value);
    if (!number || *number == 0)
      return std::unexpected(fmt::format("{} is `{}`, should be a positive integer.", TEST_THREADS_VAR, *value));
    return static_cast<std::size_t>(*number);
  }
  return processors_available();
}

std::size_t worker_stack_size(const EnvLookup& env) {
  const auto value = env(std::string(MIN_STACK_VAR));
  if (!value) return zlu_base::DEFAULT_STACK_SIZE;
  const auto number = zlu_base::parse_decimal_u64(*value);
  if (!number || *number == 0) return zlu_base::DEFAULT_STACK_SIZE;
  return std::max({static_cast<std::size_t>(*number), zlu_base::LEAST_STACK_SIZE,
                   static_cast<std::size_t>(PTHREAD_STACK_MIN)});
}

}  // namespace harness
