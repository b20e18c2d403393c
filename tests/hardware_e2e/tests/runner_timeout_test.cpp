#include <gtest/gtest.h>

#include "launch/runner_timeout.hpp"

namespace hardware_e2e {
namespace {

using namespace std::chrono_literals;

TEST(RunnerTimeout, AcceptsDecimalSecondsAndRendersThemWithoutTrailingZeros) {
  const std::vector<std::tuple<std::string, std::chrono::nanoseconds, std::string>> cases = {
      {"3", 3s, "3"},
      {"1.50", 1500ms, "1.5"},
      {"0.000000001", 1ns, "0.000000001"},
      {"0.1234567899", 123456789ns, "0.123456789"},
      {"007", 7s, "7"},
      {"1000000000", 1'000'000'000s, "1000000000"},
  };
  for (const auto& [text, limit, rendered] : cases) {
    auto parsed = parse_runner_timeout(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_EQ(*parsed, limit) << text;
    EXPECT_EQ(render_seconds(*parsed), rendered) << text;
  }
}

}  // namespace
}  // namespace hardware_e2e
