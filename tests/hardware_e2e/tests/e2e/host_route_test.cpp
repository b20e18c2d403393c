#include <gtest/gtest.h>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using HostRoutes = SuiteTest;

const std::string ROUTE_TILES =
    "0,90,1,91,92,182,93,183,184,274,185,275,276,366,277,367,368,458,369,459,460,550,461,551,552,642,553,643,644,734,"
    "645,735,736,826,737,827,828,918,829,919,920,1010,921,1011,1012,1102,1013,1103,1104,1194,1105,1195,1196,1286,"
    "1197,1287,1288,1378,1289,1379,1380,1470,1381,1471,456,454,452,450,448,446,444,442,440,438,436,434,432,430,428,"
    "426,424,422,420,418,416,414";

TEST_F(HostRoutes, TheTileListCoversEveryEndpointField) {
  ASSERT_EQ(ROUTE_TILES.size(), 357u);
  const auto run = run_one("host_routes_cover_every_endpoint_field", {{"ZLU_TEST_HOST_WRITE_JITTER_SEED", "3"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].runner, "zlu-host-e2e");
  EXPECT_EQ(started[0].zlu_variables(), (std::map<std::string, std::string>{{"ZLU_HOST_TEST_TILES", ROUTE_TILES},
                                                                            {"ZLU_HOST_TEST_BYTES", "64"},
                                                                            {"ZLU_HOST_WRITE_JITTER_SEED", "3"}}));
}

TEST_F(HostRoutes, FailureNamesTheCapability) {
  const auto run = run_one("host_routes_cover_every_endpoint_field", {{"ZLU_STANDIN_EXIT", "1"}});
  EXPECT_TRUE(reports_failure(run, "host_routes_cover_every_endpoint_field",
                              "hardware capability \"host routes spanning every endpoint field\" failed with exit status: 1"))
      << run.out;
}

}  // namespace
}  // namespace hardware_e2e_tests
