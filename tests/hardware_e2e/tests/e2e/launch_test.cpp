#include <gtest/gtest.h>

#include <algorithm>
#include <sys/wait.h>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using Launch = SuiteTest;

const std::string REDUCTION = "all_tile_reduction_works";

std::string reduction_failure(const std::string& status) {
  return "hardware capability \"all-tile reduction graph\" failed with " + status;
}

TEST_F(Launch, RendersEveryExitStatus) {
  const std::vector<std::pair<ChildEnvironment, std::string>> cases = {
      {{{"ZLU_STANDIN_EXIT", "1"}}, "exit status: 1"},
      {{{"ZLU_STANDIN_EXIT", "255"}}, "exit status: 255"},
      {{{"ZLU_STANDIN_SIGNAL", "9"}}, "signal: 9 (SIGKILL)"},
      {{{"ZLU_STANDIN_SIGNAL", "34"}}, "signal: 34"},
      {{{"ZLU_STANDIN_SIGNAL", "15"}}, "signal: 15 (SIGTERM)"},
  };
  for (const auto& [environment, status] : cases) {
    const auto run = run_one(REDUCTION, environment);
    EXPECT_EQ(run.exit_code(), 101) << status;
    EXPECT_TRUE(reports_failure(run, REDUCTION, reduction_failure(status))) << status << "\n" << run.out;
  }
}

TEST_F(Launch, RendersACoreImageWhenTheSystemWroteOne) {
  // Whether a core is written depends on the host's core settings; ask the
  // kernel by killing the stand-in directly, then expect the suite to say
  // exactly what the kernel said.
  const auto direct = run_program(STANDIN_RUNNER_DIR "/zlu-hardware-e2e", {}, {{"ZLU_STANDIN_SIGNAL", "11"}}, dir());
  ASSERT_TRUE(WIFSIGNALED(direct.wait_status));
  ASSERT_EQ(WTERMSIG(direct.wait_status), 11);
  const std::string expected = WCOREDUMP(direct.wait_status) ? "signal: 11 (SIGSEGV) (core dumped)" : "signal: 11 (SIGSEGV)";
  if (!WCOREDUMP(direct.wait_status)) std::cerr << "note: this host writes no core images\n";

  const auto run = run_one(REDUCTION, {{"ZLU_STANDIN_SIGNAL", "11"}});
  EXPECT_TRUE(reports_failure(run, REDUCTION, reduction_failure(expected))) << run.out;
}

TEST_F(Launch, MissingAndNonExecutableRunnersFailWithTheLaunchText) {
  const auto run = run_broken_suite({"--test-threads", "1"});
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_NE(run.out.find("test result: FAILED. 0 passed; 23 failed;"), std::string::npos) << run.out;

  const std::string missing = ": No such file or directory (os error 2, kind NotFound)";
  const std::string not_executable = ": Permission denied (os error 13, kind PermissionDenied)";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"direct_multicast_works", "launch direct multicast hardware test runner" + missing},
      {"all_tile_reduction_works", "launch reduction hardware test runner" + missing},
      {"all_tile_permutation_works", "launch permutation hardware test runner" + missing},
      {"sparse_compute_to_dense_exchange_works", "launch compute-to-exchange hardware test runner" + missing},
      {"multicast_receiver_can_send_in_same_phase", "launch multicast hardware test runner" + missing},
      {"compiler_segmented_allocation_executes_on_hardware", "launch compiler allocation hardware test runner" + missing},
      {"flash_attention_matches_host_softmax_across_encoder_shapes", "launch FlashAttention hardware test runner" + missing},
      {"randomized_static_d2d_graphs_work", "launch randomized hardware test runner" + missing},
      {"blocked_gemm_with_cycle_profile_works", "launch profiled blocked GEMM hardware test runner" + missing},
      {"local_h2d_and_d2h_round_trip_works", "launch host exchange test runner" + not_executable},
      {"randomized_multi_tile_host_round_trips_work", "launch host exchange test runner" + not_executable},
      {"host_routes_cover_every_endpoint_field", "launch host exchange test runner" + not_executable},
      {"initialized_remote_tile_d2h_works", "launch host exchange test runner" + not_executable},
  };
  for (const auto& [test, message] : expected) EXPECT_TRUE(reports_failure(run, test, message)) << test << "\n" << run.out;
}

TEST_F(Launch, AFailingTestDoesNotStopTheNextFromTakingTheDevice) {
  // all_tile_permutation_works runs first and fails while holding the lock.
  const auto run = run_suite({"--test-threads", "1", "--exact", "all_tile_permutation_works", REDUCTION},
                             {{"ZLU_STANDIN_WHEN", "ZLU_GRAPH_TEST=permutation"}, {"ZLU_STANDIN_SIGNAL", "9"}});
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_NE(run.out.find("test all_tile_permutation_works ... FAILED\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("test all_tile_reduction_works ... ok\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("test result: FAILED. 1 passed; 1 failed;"), std::string::npos) << run.out;
  EXPECT_EQ(records().size(), 2u);
}

TEST_F(Launch, RunnersNeverOverlapWithFourWorkers) {
  const auto run = run_suite({"--test-threads", "4"}, {{"ZLU_STANDIN_SLEEP_MS", "20"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out << run.err;
  auto started = records();
  // 19 fixed tests, three graph seeds, three host cases, the route and GEMM tests.
  ASSERT_EQ(started.size(), 27u);
  std::sort(started.begin(), started.end(), [](const auto& a, const auto& b) { return a.start_ns < b.start_ns; });
  for (std::size_t i = 1; i < started.size(); ++i) {
    EXPECT_GE(started[i].start_ns, started[i - 1].end_ns)
        << started[i - 1].runner << " was still running when " << started[i].runner << " started";
  }
}

}  // namespace
}  // namespace hardware_e2e_tests
