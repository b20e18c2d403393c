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
#include <vector>

#include "lib.hpp"

namespace harness {

enum class RunIgnored { No, Yes, Only };
enum class ColorConfig { Auto, Always, Never };
enum class OutputFormat { Pretty, Terse, Json, Junit };

struct TimeThreshold {
  std::chrono::milliseconds warn;
  std::chrono::milliseconds critical;
};

struct TestTimeOptions {
  bool error_on_excess = false;
  TimeThreshold unit_threshold{std::chrono::milliseconds(50), std::chrono::milliseconds(100)};
  TimeThreshold integration_threshold{std::chrono::milliseconds(500), std::chrono::milliseconds(1000)};
  TimeThreshold doctest_threshold{std::chrono::milliseconds(500), std::chrono::milliseconds(1000)};

  // The thresholds for a test of `type` (unknown kinds use 500 ms / 1000 ms).
  TimeThreshold threshold(TestType type) const;
};

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
};

// Looks up one environment variable of the test process: nullopt when unset.
using EnvLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The environment of the real process.
EnvLookup process_environment();

}  // namespace harness
