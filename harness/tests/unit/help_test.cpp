#include <gtest/gtest.h>

#include "expected_help.hpp"
#include "options.hpp"

namespace harness {
namespace {

TEST(Help, MatchesTheLayoutByteForByte) { EXPECT_EQ(help_text("./hardware_e2e"), testing::expected_help); }

}  // namespace
}  // namespace harness
