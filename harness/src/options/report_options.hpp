// The settings the report itself is shaped by: the format, the colour and the
// time thresholds. Parsed with the rest of the command line (options.hpp), but
// kept apart so that the report, the run and the stream they write to need
// nothing of the parser.
#pragma once

#include <chrono>

#include "lib.hpp"

namespace harness {

enum class ColorConfig { Auto, Always, Never };
enum class OutputFormat { Pretty, Terse, Json, Junit };

struct TimeThreshold {
  std::chrono::milliseconds warn;
  std::chrono::milliseconds critical;
};

// Whether a test that ran for `elapsed` has reached `threshold`. A threshold
// longer than a count of nanoseconds can hold (about 292 years) is never
// reached, where converting it to nanoseconds would overflow.
bool reached(std::chrono::nanoseconds elapsed, std::chrono::milliseconds threshold);

struct TestTimeOptions {
  bool error_on_excess = false;
  TimeThreshold unit_threshold{std::chrono::milliseconds(50), std::chrono::milliseconds(100)};
  TimeThreshold integration_threshold{std::chrono::milliseconds(500), std::chrono::milliseconds(1000)};
  TimeThreshold doctest_threshold{std::chrono::milliseconds(500), std::chrono::milliseconds(1000)};

  // The thresholds for a test of `type` (unknown kinds use 500 ms / 1000 ms).
  TimeThreshold threshold(TestType type) const;
};

}  // namespace harness
