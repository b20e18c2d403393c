#include "reports/time_format.hpp"

#include <fmt/format.h>

namespace harness {
namespace {

double seconds(std::chrono::nanoseconds duration) { return std::chrono::duration<double>(duration).count(); }

}  // namespace

std::string render_exec_time(TestExecTime time) { return fmt::format("{:.3f}s", seconds(time.duration)); }

std::string render_suite_time(TestSuiteExecTime time) { return fmt::format("{:.2f}", seconds(time.duration)); }

std::optional<Color> time_color(TestExecTime time, TimeThreshold threshold) {
  if (reached(time.duration, threshold.critical)) return Color::Red;
  if (reached(time.duration, threshold.warn)) return Color::Yellow;
  return std::nullopt;
}

}  // namespace harness
