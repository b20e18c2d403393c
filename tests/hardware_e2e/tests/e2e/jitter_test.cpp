#include <gtest/gtest.h>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using Jitter = SuiteTest;

const std::string HOST_TEST = "local_h2d_and_d2h_round_trip_works";

TEST_F(Jitter, NothingIsAddedWhenNeitherVariableIsSet) {
  const auto run = run_one(HOST_TEST, {{"ZLU_HOST_WRITE_JITTER_MAX_US", "250"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 1u);
  // An inherited runner-side setting still reaches the runner unchanged.
  const std::map<std::string, std::string> expected = {{"ZLU_HOST_WRITE_JITTER_MAX_US", "250"}};
  EXPECT_EQ(started[0].zlu_variables(), expected);
}

TEST_F(Jitter, BothSettingsAreForwardedAfterTheTestsPairs) {
  run_one("remote_tile_h2d_and_d2h_work",
          {{"ZLU_TEST_HOST_WRITE_JITTER_MAX_US", "100"}, {"ZLU_TEST_HOST_WRITE_JITTER_SEED", "0x2a"}});
  const auto started = records();
  ASSERT_EQ(started.size(), 1u);
  const auto& environment = started[0].environment;
  auto position = [&](const std::string& prefix) {
    return std::find_if(environment.begin(), environment.end(), [&](const auto& e) { return e.starts_with(prefix); }) -
           environment.begin();
  };
  EXPECT_EQ(started[0].env("ZLU_HOST_WRITE_JITTER_MAX_US"), "100");
  EXPECT_EQ(started[0].env("ZLU_HOST_WRITE_JITTER_SEED"), "0x2a");
  EXPECT_LT(position("ZLU_HOST_TEST_TILE="), position("ZLU_HOST_TEST_BYTES="));
  EXPECT_LT(position("ZLU_HOST_TEST_BYTES="), position("ZLU_HOST_WRITE_JITTER_MAX_US="));
  EXPECT_LT(position("ZLU_HOST_WRITE_JITTER_MAX_US="), position("ZLU_HOST_WRITE_JITTER_SEED="));
}

TEST_F(Jitter, OnlyTheSeedAndEmptyAndRawValues) {
  run_one(HOST_TEST, {{"ZLU_TEST_HOST_WRITE_JITTER_SEED", "7"}});
  run_one(HOST_TEST, {{"ZLU_TEST_HOST_WRITE_JITTER_MAX_US", ""}});
  const std::string raw = "\xff\xfe\x80" "9";
  run_one(HOST_TEST, {{"ZLU_TEST_HOST_WRITE_JITTER_MAX_US", raw}, {"ZLU_TEST_HOST_WRITE_JITTER_SEED", "\xc3("}});
  const auto started = records();
  ASSERT_EQ(started.size(), 3u);
  EXPECT_EQ(started[0].zlu_variables(), (std::map<std::string, std::string>{{"ZLU_HOST_WRITE_JITTER_SEED", "7"}}));
  EXPECT_EQ(started[1].zlu_variables(), (std::map<std::string, std::string>{{"ZLU_HOST_WRITE_JITTER_MAX_US", ""}}));
  EXPECT_EQ(started[2].env("ZLU_HOST_WRITE_JITTER_MAX_US"), raw);
  EXPECT_EQ(started[2].env("ZLU_HOST_WRITE_JITTER_SEED"), "\xc3(");
}

TEST_F(Jitter, ReachesTheGemmRunnerButNotTheGraphRunners) {
  const auto run = run_suite({"--test-threads", "1", "--exact", "blocked_gemm_with_cycle_profile_works",
                              "randomized_static_d2d_graphs_work", "direct_multicast_works"},
                             {{"ZLU_TEST_HOST_WRITE_JITTER_MAX_US", "5"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  for (const auto& record : records()) {
    const bool forwarded = record.env("ZLU_HOST_WRITE_JITTER_MAX_US").has_value();
    EXPECT_EQ(forwarded, record.runner == "zlu-gemm-e2e") << record.runner;
  }
}

}  // namespace
}  // namespace hardware_e2e_tests
