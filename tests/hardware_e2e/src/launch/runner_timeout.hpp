// The opt-in limit on how long one runner may run: ZLU_TEST_RUNNER_TIMEOUT.
#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "system/stop_grace.hpp"

namespace hardware_e2e {

inline constexpr std::string_view RUNNER_TIMEOUT_VARIABLE = "ZLU_TEST_RUNNER_TIMEOUT";

inline constexpr std::chrono::seconds RUNNER_TIMEOUT_MAX{1'000'000'000};
// Far beyond any run, and small enough that a deadline never overflows the clock.

std::expected<std::chrono::nanoseconds, std::string> parse_runner_timeout(std::string_view text);
// A positive decimal number of seconds ("3", "0.25"), fractions finer than a
// nanosecond dropped, at most RUNNER_TIMEOUT_MAX. The error is the whole line
// for standard error, naming the variable and `text`.

std::string render_seconds(std::chrono::nanoseconds duration);
// The duration in seconds without trailing zeros: "3", "0.25".

std::optional<std::chrono::nanoseconds> runner_timeout();
// The limit every runner start uses; none (wait without a limit) until set.

void set_runner_timeout(std::optional<std::chrono::nanoseconds> limit);
// Fixes the limit for the runs to come; called once, before any runner.

}  // namespace hardware_e2e
