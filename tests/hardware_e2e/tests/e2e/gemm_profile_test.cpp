#include <gtest/gtest.h>

#include <filesystem>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

namespace fs = std::filesystem;

const std::string GEMM = "blocked_gemm_with_cycle_profile_works";

class GemmProfile : public SuiteTest {
 protected:
  std::string file_name(const SuiteRun& run) const {
    return "zlu-stack-gemm-profile-" + std::to_string(run.pid) + ".capnp";
  }
  // The profile path the runner was given.
  std::string given_path() const {
    const auto started = records();
    if (started.size() != 1) return "<" + std::to_string(started.size()) + " runner starts>";
    return started[0].env("ZLU_PROFILE_OUTPUT").value_or("<unset>");
  }
  SuiteRun run_with_profile(const std::string& choice) { return run_one(GEMM, {{"ZLU_STANDIN_PROFILE", choice}}); }
};

TEST_F(GemmProfile, PassesGivesTheRunnerItsVariablesAndRemovesTheFile) {
  const auto run = run_one(GEMM, {{"ZLU_TEST_HOST_WRITE_JITTER_SEED", "9"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto started = records();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].runner, "zlu-gemm-e2e");
  const std::string path = (dir() / file_name(run)).string();
  EXPECT_EQ(started[0].zlu_variables(), (std::map<std::string, std::string>{{"ZLU_GEMM_DIMENSION", "128"},
                                                                            {"ZLU_PROFILE_OUTPUT", path},
                                                                            {"ZLU_GEMM_SRAM_CHECK_BLOCK", "1,1"},
                                                                            {"ZLU_HOST_WRITE_JITTER_SEED", "9"}}));
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(GemmProfile, PathFollowsTmpdir) {
  const auto with_slash = run_one(GEMM, {{"TMPDIR", dir().string() + "/"}});
  EXPECT_EQ(with_slash.exit_code(), 0) << with_slash.out;
  EXPECT_EQ(given_path(), dir().string() + "/" + file_name(with_slash));
  fs::remove(record_path());

  // Unset or empty: the runner writes into /tmp itself; the stand-in writes
  // no file there, so the test stops at opening it, after the path was given.
  for (const std::optional<std::string>& tmpdir : {std::optional<std::string>(), std::optional<std::string>("")}) {
    SCOPED_TRACE(tmpdir ? "empty" : "unset");
    const auto run = run_one(GEMM, {{"TMPDIR", tmpdir}, {"ZLU_STANDIN_PROFILE", "none"}});
    const std::string tmp_path = "/tmp/" + file_name(run);
    EXPECT_EQ(given_path(), tmp_path);
    EXPECT_TRUE(reports_failure(run, GEMM,
                                "open cycle profile " + tmp_path + ": No such file or directory (os error 2, kind NotFound)"))
        << run.out;
    fs::remove(record_path());
  }
}

TEST_F(GemmProfile, FailedChecksLeaveTheFileWithTheirMessages) {
  const std::string kind_head =
      "assertion failed: profile.tiles.iter().any(|tile|\n        {\n            tile.samples.iter().any(|sample|\n";
  const std::string tail = "\n        })";
  const std::string twenty(20, ' ');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"tiles=1471", "assertion `left == right` failed\n  left: 1471\n right: 1472"},
      {"clock=0", "assertion failed: profile.clock_hz > 0"},
      {"empty-tile", "assertion failed: profile.tiles.iter().all(|tile| !tile.samples.is_empty())"},
      {"without=idle", kind_head + twenty + "sample.step.kind == zlu_package::ProfileStepKind::Idle)" + tail},
      {"without=compute,without=idle",
       kind_head + twenty + "sample.step.kind == zlu_package::ProfileStepKind::Compute)" + tail},
      {"without=exchange", kind_head + twenty + "sample.step.kind == zlu_package::ProfileStepKind::Exchange)" + tail},
      {"without=synchronization", kind_head + twenty + "sample.step.kind ==\n" + std::string(24, ' ') +
                                      "zlu_package::ProfileStepKind::Synchronization)" + tail},
      {"version=4", ""},
  };
  for (const auto& [choice, message] : cases) {
    SCOPED_TRACE(choice);
    const auto run = run_with_profile(choice);
    EXPECT_EQ(run.exit_code(), 101);
    const fs::path path = dir() / file_name(run);
    const std::string expected = message.empty()
                                     ? "read cycle profile " + path.string() +
                                           ": Invalid(\"unsupported profile schema version 4\")"
                                     : message;
    EXPECT_TRUE(reports_failure(run, GEMM, expected)) << run.out;
    EXPECT_TRUE(fs::exists(path));
    fs::remove(path);
    fs::remove(record_path());
  }
}

TEST_F(GemmProfile, KindsSpreadOverTilesPass) {
  const auto run = run_with_profile("spread");
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  EXPECT_FALSE(fs::exists(dir() / file_name(run)));
}

TEST_F(GemmProfile, NoFileFailsAtOpeningNotAtTheExitStatus) {
  const auto run = run_with_profile("none");
  EXPECT_EQ(run.exit_code(), 101);
  const fs::path path = dir() / file_name(run);
  EXPECT_TRUE(reports_failure(run, GEMM,
                              "open cycle profile " + path.string() +
                                  ": No such file or directory (os error 2, kind NotFound)"))
      << run.out;
}

TEST_F(GemmProfile, ALinkAtTheProfilePathIsNotFollowed) {
  const auto run = run_with_profile("symlink");
  EXPECT_EQ(run.exit_code(), 101);
  const fs::path path = dir() / file_name(run);
  EXPECT_TRUE(reports_failure(run, GEMM,
                              "open cycle profile " + path.string() +
                                  ": Too many levels of symbolic links (os error 40, kind FilesystemLoop)"))
      << run.out;
  EXPECT_TRUE(fs::is_symlink(path));
}

TEST_F(GemmProfile, GarbageFailsWithTheReadersError) {
  const auto run = run_with_profile("garbage");
  EXPECT_EQ(run.exit_code(), 101);
  const std::string prefix = "read cycle profile " + (dir() / file_name(run)).string() + ": Capnp(";
  EXPECT_NE(run.out.find(prefix), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(dir() / file_name(run)));
}

TEST_F(GemmProfile, RunnerFailureStopsBeforeTheFile) {
  const auto run = run_one(GEMM, {{"ZLU_STANDIN_EXIT", "1"}});
  EXPECT_TRUE(reports_failure(run, GEMM,
                              "hardware capability \"blocked GEMM with per-tile cycle profile\" failed with exit status: 1"))
      << run.out;
}

}  // namespace
}  // namespace hardware_e2e_tests
