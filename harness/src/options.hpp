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

#include "lib.hpp"
#include "report_options.hpp"
#include "partition.hpp"

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
// count that is not a decimal from 0 to MAX_RETRIES, and a runner output
// setting other than `capture`.
std::expected<ParsedOpts, EarlyExit> parse_opts(std::span<const std::string> args, const EnvLookup& env);

// The help text, byte for byte, for a program called `program_name`.
std::string help_text(std::string_view program_name);

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

// The worker count: the command line, else the environment, else the
// processors available, else 1; an error message for a bad environment value.
std::expected<std::size_t, std::string> worker_count(const TestOpts& opts, const EnvLookup& env);

// The worker thread stack size: the environment's minimum (raised to the
// least stack a test is run with), else 2 MiB; parse_opts has already refused
// a value that is not a positive decimal.
std::size_t worker_stack_size(const EnvLookup& env);

// What `--list` prints for `selection` in the options' format, and the lines
// it writes to the log file (empty without one).
struct Listing {
  std::string stdout_text;
  std::string logfile_text;
};
Listing render_list(const TestOpts& opts, const Selection& selection);

}  // namespace harness
