#include "launch/runner_timeout.hpp"

#include <atomic>
#include <cstdint>

#include <fmt/format.h>

namespace hardware_e2e {
namespace {

constexpr std::int64_t NS_PER_SECOND = 1'000'000'000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Zero while no limit is set.
std::atomic<std::int64_t> timeout_ns{0};

}  // namespace

std::expected<std::chrono::nanoseconds, std::string> parse_runner_timeout(std::string_view text) {
  auto refuse = [&] {
    return std::unexpected(fmt::format("{} is `{}`, should be a positive number of seconds no larger than {}.\n",
                                       RUNNER_TIMEOUT_VARIABLE, text, RUNNER_TIMEOUT_MAX.count()));
  };
  const auto point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  if (whole.empty() || (point != std::string_view::npos && fraction.empty())) return refuse();

  std::int64_t seconds = 0;
  for (const char c : whole) {
    if (!is_digit(c)) return refuse();
    seconds = seconds * 10 + (c - '0');
    if (seconds > RUNNER_TIMEOUT_MAX.count()) return refuse();
  }
  std::int64_t nanoseconds = 0;
  std::int64_t scale = NS_PER_SECOND;
  for (const char c : fraction) {
    if (!is_digit(c)) return refuse();
    scale /= 10;
    nanoseconds += (c - '0') * scale;
  }
  const std::chrono::nanoseconds limit{seconds * NS_PER_SECOND + nanoseconds};
  if (limit.count() == 0 || limit > RUNNER_TIMEOUT_MAX) return refuse();
  return limit;
}

std::string render_seconds(std::chrono::nanoseconds duration) {
  const auto count = duration.count();
  std::string text = fmt::format("{}", count / NS_PER_SECOND);
  if (const auto fraction = count % NS_PER_SECOND; fraction != 0) {
    std::string digits = fmt::format("{:09}", fraction);
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text;
}

std::optional<std::chrono::nanoseconds> runner_timeout() {
  const auto count = timeout_ns.load(std::memory_order_relaxed);
  if (count == 0) return std::nullopt;
  return std::chrono::nanoseconds(count);
}

void set_runner_timeout(std::optional<std::chrono::nanoseconds> limit) {
  timeout_ns.store(limit ? limit->count() : 0, std::memory_order_relaxed);
}

}  // namespace hardware_e2e
