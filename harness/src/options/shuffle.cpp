#include "options/shuffle.hpp"

#include <algorithm>
#include <fmt/format.h>

#include "options/stable_hash.hpp"
#include "options/options.hpp"
#include "zlu-base/src/splitmix64.hpp"

namespace harness {
std::expected<std::optional<std::uint64_t>, std::string> shuffle_seed_at(const TestOpts& opts,
                                                                          std::chrono::system_clock::time_point now) {
  if (opts.shuffle_seed) return opts.shuffle_seed;
  if (!opts.shuffle) return std::nullopt;
  const auto since_epoch = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
  if (since_epoch < 0) return std::unexpected("Failed to get system time");
  return static_cast<std::uint64_t>(since_epoch);
}

std::expected<std::optional<std::uint64_t>, std::string> shuffle_seed(const TestOpts& opts) {
  return shuffle_seed_at(opts, std::chrono::system_clock::now());
}

void shuffle_tests(std::uint64_t seed, std::vector<TestDescAndFn>& tests) {
  std::ranges::sort(tests, {}, [](const TestDescAndFn& test) { return test.desc.name; });
  std::uint64_t names_hash = fnv1a("");
  for (const TestDescAndFn& test : tests) names_hash = fnv1a("\n", fnv1a(test.desc.name, names_hash));
  zlu_base::SplitMix64 generator(seed ^ names_hash);
  for (std::size_t i = tests.size(); i > 1; --i) std::swap(tests[i - 1], tests[generator.below(i)]);
}

}  // namespace harness
