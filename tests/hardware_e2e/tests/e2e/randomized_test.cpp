#include <gtest/gtest.h>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using Randomized = SuiteTest;

const std::vector<std::string> HOST_TILES = {"34,71,144,956,1104,1157,1243,1300", "11,19,108,451,536,647,846,958",
                                             "19,82,416,602,829,893,1065,1187"};

TEST_F(Randomized, GraphSeedsGoToTheRunnerInDecimal) {
  const auto run = run_one("randomized_static_d2d_graphs_work");
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 3u);
  const std::vector<std::string> seeds = {"6506669214803444035", "7640891576956012809", "13503953896175478587"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(started[i].runner, "zlu-randomized-e2e");
    EXPECT_EQ(started[i].zlu_variables(), (std::map<std::string, std::string>{{"ZLU_RANDOM_SEED", seeds[i]}}));
  }
}

TEST_F(Randomized, GraphSeedFailureNamesItInHexadecimalAndStopsTheSeeds) {
  const auto run = run_one("randomized_static_d2d_graphs_work",
                           {{"ZLU_STANDIN_WHEN", "ZLU_RANDOM_SEED=7640891576956012809"}, {"ZLU_STANDIN_EXIT", "1"}});
  EXPECT_TRUE(reports_failure(
      run, "randomized_static_d2d_graphs_work",
      "hardware capability \"randomized exchange graph seed 0x6a09e667f3bcc909\" failed with exit status: 1"))
      << run.out;
  EXPECT_EQ(records().size(), 2u);
}

TEST_F(Randomized, HostCasesSendTheirTilesAndBytes) {
  const auto run = run_one("randomized_multi_tile_host_round_trips_work");
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 3u);
  const std::vector<std::string> bytes = {"4", "1024", "8192"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(started[i].runner, "zlu-host-e2e");
    EXPECT_EQ(started[i].zlu_variables(),
              (std::map<std::string, std::string>{{"ZLU_HOST_TEST_TILES", HOST_TILES[i]}, {"ZLU_HOST_TEST_BYTES", bytes[i]}}));
  }
}

TEST_F(Randomized, FailureInTheSecondCaseLeavesTheThirdUnrun) {
  const auto run = run_one("randomized_multi_tile_host_round_trips_work",
                           {{"ZLU_STANDIN_WHEN", "ZLU_HOST_TEST_BYTES=1024"}, {"ZLU_STANDIN_EXIT", "1"}});
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_TRUE(reports_failure(run, "randomized_multi_tile_host_round_trips_work",
                              "hardware capability \"randomized host round trip seed=0x13198a2e03707344 bytes=1024 "
                              "tiles=11,19,108,451,536,647,846,958\" failed with exit status: 1"))
      << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[1].env("ZLU_HOST_TEST_BYTES"), "1024");
}

}  // namespace
}  // namespace hardware_e2e_tests
