#include "outcome.hpp"

#include <cstdio>

#include <fmt/format.h>

namespace zlu_runner {
namespace {

// Writes a report line and ignores a failed write: the exit code is the
// runner's verdict and must reach the parent even when the stream is full or
// closed (fmt::print would throw, and the uncaught exception end the runner
// by a signal).
void write_report_line(std::FILE* stream, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

}  // namespace

int finish(std::string_view runner, const Outcome& outcome) {
  if (outcome) {
    write_report_line(stdout, fmt::format("{}: ok: {}\n", runner, *outcome));
    return static_cast<int>(ExitCode::Ok);
  }
  const Failure& failure = outcome.error();
  const char* what = failure.code == ExitCode::ConfigInvalid ? "invalid configuration" : "check failed";
  write_report_line(stderr, fmt::format("{}: {}: {}\n", runner, what, failure.message));
  return static_cast<int>(failure.code);
}

std::string summary_line(std::string_view scenario, std::uint64_t tiles, std::uint64_t bytes, std::uint64_t cycles) {
  return fmt::format("scenario={} tiles={} bytes={} cycles={}", scenario, tiles, bytes, cycles);
}

}  // namespace zlu_runner
