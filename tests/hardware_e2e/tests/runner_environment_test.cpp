#include <gtest/gtest.h>

#include "launch/runner_command.hpp"

namespace hardware_e2e {
namespace {

TEST(RunnerEnvironment, AdditionsReplaceInheritedVariablesAndKeepTheirOrder) {
  const char* inherited[] = {"PATH=/bin", "ZLU_HOST_TEST_TILE=7", "HOME=/root", "NOEQUALS", nullptr};
  const auto block = runner_environment(inherited, {{"ZLU_HOST_TEST_TILE", "1471"}, {"ZLU_HOST_TEST_BYTES", "8192"}});
  const std::vector<std::string> expected = {"PATH=/bin", "HOME=/root", "NOEQUALS", "ZLU_HOST_TEST_TILE=1471",
                                             "ZLU_HOST_TEST_BYTES=8192"};
  EXPECT_EQ(block, expected);
}

TEST(RunnerEnvironment, ALaterAdditionOfTheSameNameWins) {
  const char* inherited[] = {nullptr};
  const auto block = runner_environment(inherited, {{"A", "1"}, {"B", "2"}, {"A", ""}});
  const std::vector<std::string> expected = {"A=", "B=2"};
  EXPECT_EQ(block, expected);
}

TEST(RunnerEnvironment, ValuesPassAsRawBytes) {
  const char* inherited[] = {nullptr};
  const std::string raw = "\xff\xfe" "12";
  const auto block = runner_environment(inherited, {{"ZLU_HOST_WRITE_JITTER_SEED", raw}});
  ASSERT_EQ(block.size(), 1u);
  EXPECT_EQ(block[0], "ZLU_HOST_WRITE_JITTER_SEED=" + raw);
}

}  // namespace
}  // namespace hardware_e2e
