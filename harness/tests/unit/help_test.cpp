#include <gtest/gtest.h>

#include "expected_help.hpp"
#include "options/options.hpp"
#include "options/help.hpp"

namespace harness {
namespace {

TEST(Help, MatchesTheLayoutByteForByte) { EXPECT_EQ(help_text("./hardware_e2e"), testing::expected_help); }

}  // namespace
}  // namespace harness
