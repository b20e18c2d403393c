// Time limits of --ensure-time at the edges of what the variables accept.
#include <gtest/gtest.h>

#include "run/execute.hpp"
#include "option_test_support.hpp"

namespace harness {
namespace {

using testing::Env;
using testing::gate_open;

void instant_body() {}

// Each variable's largest critical time is no limit at all, however its
// milliseconds compare with a measured time; a zero limit fails any test.
TEST(TimeLimit, EveryAcceptedCriticalTimeIsComparedWithoutOverflow) {
  const std::vector<std::pair<std::string, TestType>> variables = {
      {"ZLU_TEST_TIME_UNIT", TestType::UnitTest},
      {"ZLU_TEST_TIME_INTEGRATION", TestType::IntegrationTest},
      {"ZLU_TEST_TIME_DOCTEST", TestType::DocTest},
  };
  // The value, and whether an instant test is over its limit.
  const std::vector<std::pair<std::string, bool>> accepted = {
      {"0,0", true},
      {"0,60000", false},
      // The largest count of milliseconds whose nanoseconds fit in 64 bits, and one more.
      {"0,9223372036854", false},
      {"0,9223372036855", false},
      {"0,9223372036854775807", false},
      {"9223372036854775807,9223372036854775807", false},
  };
  for (const auto& [variable, type] : variables) {
    for (const auto& [value, exceeded] : accepted) {
      SCOPED_TRACE(variable + "=" + value);
      Env env = gate_open;
      env[variable] = value;
      const auto parsed = testing::parse({"-Zunstable-options", "--ensure-time"}, env);
      ASSERT_TRUE(parsed.has_value());
      TestDescAndFn test{TestDesc{}, instant_body};
      test.desc.name = "instant";
      test.desc.test_type = type;
      const ExecuteSettings settings{true, parsed->opts.time_options, 0};
      const CompletedTest completed = execute_test(TestId{0}, test, settings);
      EXPECT_EQ(completed.result().kind, exceeded ? TestResult::Kind::TimeLimitExceeded : TestResult::Kind::Ok);
    }
    for (const std::string value : {"0,9223372036854775808", "9223372036854775808,9223372036854775808"}) {
      Env env = gate_open;
      env[variable] = value;
      EXPECT_EQ(testing::refusal({"-Zunstable-options", "--ensure-time"}, env),
                "error: Duration value in variable " + variable + " is expected to be a number, but got " +
                    "9223372036854775808\n");
    }
  }
}

}  // namespace
}  // namespace harness
