#include <gtest/gtest.h>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

struct FixedTest {
  std::string name;
  std::string runner;
  std::map<std::string, std::string> variables;
};

// In table order, which is the serial run order.
const std::vector<FixedTest> FIXED_TESTS = {
    {"all_tile_permutation_works", "zlu-hardware-e2e", {{"ZLU_GRAPH_TEST", "permutation"}}},
    {"all_tile_reduction_works", "zlu-hardware-e2e", {{"ZLU_GRAPH_TEST", "reduction"}}},
    {"compiler_segmented_allocation_executes_on_hardware", "zlu-hardware-e2e",
     {{"ZLU_GRAPH_TEST", "compiler-segmented-add"}}},
    {"direct_multicast_works", "zlu-hardware-e2e", {{"ZLU_GRAPH_TEST", "fanout"}}},
    {"distinct_sources_can_write_disjoint_host_ranges", "zlu-host-e2e",
     {{"ZLU_HOST_TEST_TILES", "1471,274"}, {"ZLU_HOST_TEST_BYTES", "64"}}},
    {"flash_attention_matches_host_softmax_across_encoder_shapes", "zlu-attention-f16-e2e", {}},
    {"h2d_compute_d2d_compute_d2h_works", "zlu-host-e2e",
     {{"ZLU_HOST_TEST_COMPUTE_RELAY", "1"}, {"ZLU_HOST_TEST_BYTES", "4"}}},
    {"high_address_large_h2d_and_d2h_work", "zlu-host-e2e",
     {{"ZLU_HOST_TEST_TILE", "100"}, {"ZLU_HOST_TEST_BYTES", "65536"}, {"ZLU_HOST_TEST_ADDRESS", "0x60000"}}},
    {"initialized_d2d_relay_and_d2h_work", "zlu-host-e2e",
     {{"ZLU_HOST_TEST_EXCHANGE", "1"}, {"ZLU_HOST_TEST_INITIALIZED_EXCHANGE", "1"}}},
    {"initialized_local_tile_d2h_works", "zlu-host-e2e", {{"ZLU_HOST_TEST_D2H_ONLY", "1"}}},
    {"initialized_remote_tile_d2h_works", "zlu-host-e2e",
     {{"ZLU_HOST_TEST_REMOTE_D2H", "1"}, {"ZLU_HOST_TEST_TILE", "1471"}, {"ZLU_HOST_TEST_BYTES", "8192"}}},
    {"large_h2d_timed_relay_and_d2h_composition_works", "zlu-host-e2e",
     {{"ZLU_HOST_TEST_EXCHANGE", "1"}, {"ZLU_HOST_TEST_BYTES", "2048"}}},
    {"local_h2d_and_d2h_round_trip_works", "zlu-host-e2e", {}},
    {"multicast_receiver_can_send_in_same_phase", "zlu-hardware-e2e", {{"ZLU_GRAPH_TEST", "multicast"}}},
    {"remote_tile_h2d_and_d2h_work", "zlu-host-e2e", {{"ZLU_HOST_TEST_TILE", "1471"}, {"ZLU_HOST_TEST_BYTES", "8192"}}},
    {"repeated_h2d_and_d2h_works", "zlu-host-e2e", {{"ZLU_HOST_TEST_INVOCATIONS", "3"}}},
    {"resident_h2d_and_repeated_d2h_work", "zlu-host-e2e",
     {{"ZLU_HOST_TEST_RESIDENT_INPUT", "1"}, {"ZLU_HOST_TEST_INVOCATIONS", "3"}}},
    {"resident_h2d_then_d2h_works", "zlu-host-e2e", {{"ZLU_HOST_TEST_RESIDENT_INPUT", "1"}}},
    {"sparse_compute_to_dense_exchange_works", "zlu-hardware-e2e", {{"ZLU_GRAPH_TEST", "reduction-permutation"}}},
};

const std::vector<std::string> ONLY_FIXED = {"--test-threads", "1", "--skip", "randomized", "--skip", "host_routes",
                                             "--skip", "blocked_gemm"};

using FixedTests = SuiteTest;

TEST_F(FixedTests, EachStartsItsRunnerWithExactlyItsVariables) {
  const auto run = run_suite(ONLY_FIXED);
  EXPECT_EQ(run.exit_code(), 0) << run.out << run.err;
  EXPECT_NE(run.out.find("test result: ok. 19 passed; 0 failed; 0 ignored; 0 measured; 4 filtered out"),
            std::string::npos)
      << run.out;

  const auto started = records();
  ASSERT_EQ(started.size(), FIXED_TESTS.size());
  for (std::size_t i = 0; i < started.size(); ++i) {
    SCOPED_TRACE(FIXED_TESTS[i].name);
    EXPECT_EQ(started[i].runner, FIXED_TESTS[i].runner);
    EXPECT_EQ(started[i].zlu_variables(), FIXED_TESTS[i].variables);
    // The suite was started with SIGPIPE ignored and SIGUSR1 blocked.
    EXPECT_EQ(started[i].sigpipe, "default");
    EXPECT_EQ(started[i].sigmask, "empty");
  }
}

TEST_F(FixedTests, RunnersInheritTheEnvironmentAndAdditionsReplaceIt) {
  const auto run = run_one("distinct_sources_can_write_disjoint_host_ranges",
                           {{"ZLU_HOST_TEST_BYTES", "999"}, {"SOME_HOST_SETTING", "kept"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].env("ZLU_HOST_TEST_BYTES"), "64");
  EXPECT_EQ(started[0].env("SOME_HOST_SETTING"), "kept");
  std::size_t bytes_entries = 0;
  for (const auto& entry : started[0].environment) bytes_entries += entry.starts_with("ZLU_HOST_TEST_BYTES=");
  EXPECT_EQ(bytes_entries, 1u);
}

TEST_F(FixedTests, FailureNamesTheCapability) {
  const auto run = run_one("direct_multicast_works", {{"ZLU_STANDIN_EXIT", "1"}});
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_TRUE(reports_failure(
      run, "direct_multicast_works",
      "hardware capability \"single-source multicast graph\" failed with exit status: 1"))
      << run.out;

  const auto host = run_one("remote_tile_h2d_and_d2h_work", {{"ZLU_STANDIN_EXIT", "3"}});
  EXPECT_TRUE(reports_failure(host, "remote_tile_h2d_and_d2h_work",
                              "hardware capability \"remote-tile H2D and D2H\" failed with exit status: 3"))
      << host.out;
}

TEST_F(FixedTests, ASliceStartsOnlyItsTestsRunners) {
  // The 19 fixed tests dealt over three slices: the second gets the 2nd, 5th, ... of them.
  const auto run = run_suite(ONLY_FIXED, {{"ZLU_TEST_PARTITION", "count:2/3"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out << run.err;
  EXPECT_NE(run.out.find("test result: ok. 6 passed; 0 failed; 0 ignored; 0 measured; 17 filtered out"),
            std::string::npos)
      << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 6u);
  for (std::size_t i = 0; i < started.size(); ++i) {
    const FixedTest& expected = FIXED_TESTS[1 + 3 * i];
    SCOPED_TRACE(expected.name);
    EXPECT_NE(run.out.find("test " + expected.name + " ... ok"), std::string::npos);
    EXPECT_EQ(started[i].runner, expected.runner);
    EXPECT_EQ(started[i].zlu_variables(), expected.variables);
  }
}

TEST_F(FixedTests, AMalformedPartitionStopsTheRunBeforeAnyRunner) {
  const auto run = run_suite({}, {{"ZLU_TEST_PARTITION", "count:5/4"}});
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "error: ZLU_TEST_PARTITION is `count:5/4`, should be count:K/N or hash:K/N with 1 <= K <= N.\n");
  EXPECT_TRUE(records().empty());
}

}  // namespace
}  // namespace hardware_e2e_tests
