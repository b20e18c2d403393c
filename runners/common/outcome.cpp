#include "outcome.hpp"

#include <cstdio>

#include <fmt/format.h>

namespace zlu_runner {

int finish(std::string_view runner, const Outcome& outcome) {
  if (outcome) {
    fmt::print(stdout, "{}: ok: {}\n", runner, *outcome);
    std::fflush(stdout);
    return static_cast<int>(ExitCode::Ok);
  }
  const Failure& failure = outcome.error();
  const char* what = failure.code == ExitCode::ConfigInvalid ? "invalid configuration" : "check failed";
  fmt::print(stderr, "{}: {}: {}\n", runner, what, failure.message);
  std::fflush(stderr);
  return static_cast<int>(failure.code);
}

std::string summary_line(std::string_view scenario, std::uint64_t tiles, std::uint64_t bytes, std::uint64_t cycles) {
  return fmt::format("scenario={} tiles={} bytes={} cycles={}", scenario, tiles, bytes, cycles);
}

}  // namespace zlu_runner
