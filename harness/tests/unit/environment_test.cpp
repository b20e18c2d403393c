#include <gtest/gtest.h>

#include <climits>
#include <pthread.h>

#include "option_test_support.hpp"
#include "options/environment.hpp"

namespace harness {
namespace {

using testing::lookup;

TEST(WorkerCount, CommandLineThenVariableThenProcessors) {
  TestOpts opts;
  opts.test_threads = 3;
  EXPECT_EQ(worker_count(opts, lookup({{"ZLU_TEST_THREADS", "5"}})), 3u);
  opts.test_threads.reset();
  EXPECT_EQ(worker_count(opts, lookup({{"ZLU_TEST_THREADS", "5"}})), 5u);
  const auto processors = worker_count(opts, lookup({}));
  ASSERT_TRUE(processors.has_value());
  EXPECT_GE(*processors, 1u);
}

TEST(WorkerCount, ABadVariableIsNamedWithItsValue) {
  for (const std::string value : {"0", "x", "", "-2", "99999999999999999999"})
    EXPECT_EQ(worker_count(TestOpts{}, lookup({{"ZLU_TEST_THREADS", value}})),
              std::unexpected("ZLU_TEST_THREADS is `" + value + "`, should be a positive integer."));
}

TEST(WorkerStackSize, DefaultsToTwoMebibytesAndHonoursTheMinimumFromTheLeastATestNeeds) {
  EXPECT_EQ(worker_stack_size(lookup({})), 0x200000u);
  // The value, and the stack a worker gets: never less than 256 KiB.
  const std::vector<std::pair<std::string, std::size_t>> sizes = {
      {"1", 262144},      {"16384", 262144},  {"262143", 262144},
      {"262144", 262144}, {"262145", 262145}, {"8388608", 8388608},
  };
  for (const auto& [value, size] : sizes) {
    EXPECT_EQ(worker_stack_size(lookup({{"ZLU_TEST_MIN_STACK", value}})), size) << value;
  }
}

TEST(ProcessEnvironment, TellsUnsetFromEmpty) {
  ASSERT_EQ(setenv("ZLU_TEST_UNIT_PROBE", "", 1), 0);
  const EnvLookup env = process_environment();
  EXPECT_EQ(env("ZLU_TEST_UNIT_PROBE"), std::optional<std::string>(""));
  ASSERT_EQ(unsetenv("ZLU_TEST_UNIT_PROBE"), 0);
  EXPECT_EQ(env("ZLU_TEST_UNIT_PROBE"), std::nullopt);
}

}  // namespace
}  // namespace harness
