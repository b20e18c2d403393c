// How execution times appear in the report and the log file.
#pragma once

#include <optional>
#include <string>

#include "reports/color.hpp"
#include "options/report_options.hpp"
#include "run/result.hpp"

namespace harness {

// A test's time as "<seconds with three decimals>s", e.g. "1.234s".
std::string render_exec_time(TestExecTime time);

// The suite's time as seconds with two decimals, without unit: "0.25".
std::string render_suite_time(TestSuiteExecTime time);

// How finely render_utc_time shows a time: "2026-12-09T05:03:11Z",
// "2026-12-09T05:03:11.042133Z" or "2026-12-09T05:03:11.042133517Z".
enum class UtcDigits { Seconds, Microseconds, Nanoseconds };

// The wall-clock time `at` in UTC with its zone, to `digits`, cut rather than
// rounded; the epoch's when it cannot be rendered.
std::string render_utc_time(WallClock::time_point at, UtcDigits digits);

// The colour of a test's time: red at or above the critical time, yellow at
// or above the warn time, none below.
std::optional<Color> time_color(TestExecTime time, TimeThreshold threshold);

}  // namespace harness
