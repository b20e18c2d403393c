#include "reports/time_format.hpp"

#include <ctime>
#include <fmt/format.h>

namespace harness {
namespace {

double seconds(std::chrono::nanoseconds duration) { return std::chrono::duration<double>(duration).count(); }

}  // namespace

std::string render_exec_time(TestExecTime time) { return fmt::format("{:.3f}s", seconds(time.duration)); }

std::string render_suite_time(TestSuiteExecTime time) { return fmt::format("{:.2f}", seconds(time.duration)); }

std::string render_utc_time(WallClock::time_point at, UtcDigits digits) {
  const auto since_epoch = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch());
  const auto whole = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const auto nanoseconds = (since_epoch - whole).count();
  std::string fraction;
  if (digits == UtcDigits::Microseconds) fraction = fmt::format(".{:06}", nanoseconds / 1000);
  if (digits == UtcDigits::Nanoseconds) fraction = fmt::format(".{:09}", nanoseconds);
  const std::time_t seconds = static_cast<std::time_t>(whole.count());
  std::tm utc{};
  if (gmtime_r(&seconds, &utc) == nullptr) return render_utc_time(WallClock::time_point{}, digits);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}Z", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                     utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
}

std::optional<Color> time_color(TestExecTime time, TimeThreshold threshold) {
  if (reached(time.duration, threshold.critical)) return Color::Red;
  if (reached(time.duration, threshold.warn)) return Color::Yellow;
  return std::nullopt;
}

}  // namespace harness
