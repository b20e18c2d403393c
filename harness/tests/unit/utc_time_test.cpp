// Wall-clock times in UTC as the reports and the events file write them.
#include <gtest/gtest.h>

#include "reports/time_format.hpp"

namespace harness {
namespace {

using std::chrono::nanoseconds;

// Each digit count at the edges of a second: the fraction is cut, never
// rounded up into the next second, and a time before the epoch reads as
// the second it falls in.
TEST(UtcTime, EveryPrecisionCutsTheFractionAtTheEdgesOfASecond) {
  struct Case {
    std::int64_t since_epoch_ns;
    std::string seconds, microseconds, nanoseconds;
  };
  const std::vector<Case> cases = {
      {0, "1970-01-01T00:00:00Z", "1970-01-01T00:00:00.000000Z", "1970-01-01T00:00:00.000000000Z"},
      {999, "1970-01-01T00:00:00Z", "1970-01-01T00:00:00.000000Z", "1970-01-01T00:00:00.000000999Z"},
      {999'999'999, "1970-01-01T00:00:00Z", "1970-01-01T00:00:00.999999Z", "1970-01-01T00:00:00.999999999Z"},
      {1'000'000'000, "1970-01-01T00:00:01Z", "1970-01-01T00:00:01.000000Z", "1970-01-01T00:00:01.000000000Z"},
      {-1, "1969-12-31T23:59:59Z", "1969-12-31T23:59:59.999999Z", "1969-12-31T23:59:59.999999999Z"},
      {1'796'793'791'042'133'517, "2026-12-09T05:23:11Z", "2026-12-09T05:23:11.042133Z",
       "2026-12-09T05:23:11.042133517Z"},
  };
  for (const Case& c : cases) {
    const WallClock::time_point at{std::chrono::duration_cast<WallClock::duration>(nanoseconds(c.since_epoch_ns))};
    EXPECT_EQ(render_utc_time(at, UtcDigits::Seconds), c.seconds) << c.since_epoch_ns;
    EXPECT_EQ(render_utc_time(at, UtcDigits::Microseconds), c.microseconds) << c.since_epoch_ns;
    EXPECT_EQ(render_utc_time(at, UtcDigits::Nanoseconds), c.nanoseconds) << c.since_epoch_ns;
  }
}

}  // namespace
}  // namespace harness
