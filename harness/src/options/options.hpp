// The parsed command line and the harness's environment settings. Both are
// read once at the edge; everything downstream reads these values only.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cycles/cycle_options.hpp"
#include "lib.hpp"
#include "options/report_options.hpp"
#include "options/partition.hpp"

#include "zlu-base/src/environment.hpp"

namespace harness {

enum class RunIgnored { No, Yes, Only };

struct TestOpts {
  bool list = false;
  std::vector<std::string> filters;
  bool filter_exact = false;
  std::vector<std::string> skip;
  RunIgnored run_ignored = RunIgnored::No;
  bool run_tests = true;
  bool bench_benchmarks = false;
  std::optional<std::size_t> test_threads;
  bool nocapture = false;
  ColorConfig color = ColorConfig::Auto;
  OutputFormat format = OutputFormat::Pretty;
  bool show_output = false;
  std::optional<std::string> logfile;
  bool shuffle = false;
  std::optional<std::uint64_t> shuffle_seed;
  std::optional<TestTimeOptions> time_options;
  bool fail_fast = false;
  bool force_run_in_process = false;
  bool exclude_should_panic = false;
  std::optional<Partition> partition;  // from ZLU_TEST_PARTITION
  std::size_t retries = 0;             // from ZLU_TEST_RETRIES
  bool capture_runner_output = false;  // ZLU_TEST_RUNNER_OUTPUT=capture
  std::optional<std::string> events_file;  // from ZLU_TEST_EVENTS
  CycleOptions cycles;                 // the ZLU_TEST_CYCLE variables
};

// The environment variables the harness reads for itself.
inline constexpr std::string_view TEST_THREADS_VAR = "ZLU_TEST_THREADS";
inline constexpr std::string_view MIN_STACK_VAR = "ZLU_TEST_MIN_STACK";  // bytes, decimal
inline constexpr std::string_view NOCAPTURE_VAR = "ZLU_TEST_NOCAPTURE";
inline constexpr std::string_view SHUFFLE_VAR = "ZLU_TEST_SHUFFLE";
inline constexpr std::string_view SHUFFLE_SEED_VAR = "ZLU_TEST_SHUFFLE_SEED";
inline constexpr std::string_view TIME_UNIT_VAR = "ZLU_TEST_TIME_UNIT";
inline constexpr std::string_view TIME_INTEGRATION_VAR = "ZLU_TEST_TIME_INTEGRATION";
inline constexpr std::string_view TIME_DOCTEST_VAR = "ZLU_TEST_TIME_DOCTEST";
// How many more times a failed test is run; at most MAX_RETRIES.
inline constexpr std::string_view RETRIES_VAR = "ZLU_TEST_RETRIES";
inline constexpr std::size_t MAX_RETRIES = 1000;
// `capture` keeps each runner's output with its test's try; unset, runners
// write to the suite's own streams.
inline constexpr std::string_view RUNNER_OUTPUT_VAR = "ZLU_TEST_RUNNER_OUTPUT";
// The file the run's JSON event lines go to, whatever the report's format.
inline constexpr std::string_view EVENTS_VAR = "ZLU_TEST_EVENTS";
// Set to any value, it opens the gate of `-Z unstable-options`.
inline constexpr std::string_view BOOTSTRAP_VAR = "ZLU_TEST_BOOTSTRAP";

// Looks up one environment variable of the test process: nullopt when unset.
using zlu_base::EnvLookup;

// The environment of the real process.
using zlu_base::process_environment;

// A parse that ends the process before any test runs: the help (status 0), or
// an option error ("error: <message>\n" on standard error, status 101).
struct EarlyExit {
  int status = 0;
  std::string stdout_text;
  std::string stderr_text;
};

// A successful parse. Besides the command line, `opts` carries what the
// harness's variables add: capture off, shuffling and its seed, the time
// thresholds. `warnings` is written to standard error as it stands
// (the deprecated `--logfile` warning has no line end) before the run.
struct ParsedOpts {
  TestOpts opts;
  std::string warnings;
};

// Parses the command line (args[0] is the program name) together with the
// harness's own environment variables, and validates it in the fixed order:
// help first (it wins over any later error), then the `-Z` gate, the gated
// flags, the time thresholds, shuffling, the seed, the ignored modes,
// capture, the worker count, colour, format, log file; last, a worker stack
// size in the environment that is not a positive decimal, or that no thread
// can be given, is refused too, and so are a malformed partition and a retry
// count that is not a decimal from 0 to MAX_RETRIES, a runner output
// setting other than `capture`, an empty events file path, and a malformed
// cycle setting.
std::expected<ParsedOpts, EarlyExit> parse_opts(std::span<const std::string> args, const EnvLookup& env);

}  // namespace harness
