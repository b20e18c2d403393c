#include <gtest/gtest.h>

#include "expected_help.hpp"
#include "options.hpp"

namespace harness {
namespace {

TEST(Help, MatchesTheLayoutByteForByte) { EXPECT_EQ(help_text("./hardware_e2e"), testing::expected_help); }

TEST(Help, IsWhatParseGivesWithTheProgramNameAndStatusZero) {
  const EnvLookup no_env = [](const std::string&) { return std::nullopt; };
  const std::vector<std::string> args{"./hardware_e2e", "-qh"};
  const auto parsed = parse_opts(args, no_env);
  ASSERT_FALSE(parsed.has_value());
  EXPECT_EQ(parsed.error().status, 0);
  EXPECT_EQ(parsed.error().stdout_text, testing::expected_help);
  EXPECT_EQ(parsed.error().stderr_text, "");
}

}  // namespace
}  // namespace harness
