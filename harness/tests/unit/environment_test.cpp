#include <gtest/gtest.h>

#include <climits>
#include <pthread.h>

#include "option_test_support.hpp"

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

TEST(WorkerStackSize, DefaultsToTwoMebibytesAndHonoursTheMinimum) {
  EXPECT_EQ(worker_stack_size(lookup({})), 0x200000u);
  EXPECT_EQ(worker_stack_size(lookup({{"ZLU_TEST_MIN_STACK", "8388608"}})), 8388608u);
  EXPECT_EQ(worker_stack_size(lookup({{"ZLU_TEST_MIN_STACK", "1"}})), static_cast<std::size_t>(PTHREAD_STACK_MIN));
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
