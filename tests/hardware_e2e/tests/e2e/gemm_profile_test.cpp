#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include <fmt/format.h>

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
    // A failed check names the file it leaves in the test's output; an
    // unreadable one names it in its message.
    const std::string expected = message.empty()
                                     ? "read cycle profile " + path.string() +
                                           ": Invalid(\"unsupported profile schema version 4\")"
                                     : message;
    EXPECT_TRUE(reports_failure(run, GEMM, expected)) << run.out;
    const std::string named = "cycle profile left for inspection at " + path.string() + "\n";
    EXPECT_EQ(run.out.find(named) != std::string::npos, !message.empty()) << run.out;
    EXPECT_TRUE(fs::exists(path));
    fs::remove(path);
    fs::remove(record_path());
  }
}

// Reading a profile, and failing a check, take more stack than the least a
// thread may have: a smaller ZLU_TEST_MIN_STACK is raised to what a test needs.
TEST_F(GemmProfile, RunsAndFailsOnEveryStackSizeTheVariableAccepts) {
  for (const std::string size : {"1", "16384", "262143", "262144", "262145"}) {
    SCOPED_TRACE(size);
    const auto passing = run_one(GEMM, {{"ZLU_TEST_MIN_STACK", size}});
    EXPECT_EQ(passing.exit_code(), 0) << passing.out << passing.err;
    const auto failing = run_one(GEMM, {{"ZLU_TEST_MIN_STACK", size}, {"ZLU_STANDIN_PROFILE", "without=idle"}});
    EXPECT_EQ(failing.exit_code(), 101) << failing.out << failing.err;
    EXPECT_TRUE(reports_failure(failing, GEMM, "assertion failed: profile.tiles.iter().any(|tile|")) << failing.out;
    fs::remove(dir() / file_name(failing));
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

TEST_F(GemmProfile, WhatSitsAtThePathBeforeTheLaunchIsRemoved) {
  // A sound profile made beforehand, planted at the suite's path under its
  // process id, while the runner writes nothing: only the runner's own file
  // may count. A planted FIFO would block the open forever.
  const auto made = run_program(STANDIN_RUNNER_DIR "/zlu-gemm-e2e", {},
                                {{"ZLU_PROFILE_OUTPUT", (dir() / "sound.capnp").string()}}, dir());
  ASSERT_EQ(made.exit_code(), 0) << made.err;
  for (const std::string plant : {"ln sound.capnp", "mkfifo"}) {
    SCOPED_TRACE(plant);
    const auto run = run_one_after(plant + " zlu-stack-gemm-profile-$$.capnp", GEMM, {{"ZLU_STANDIN_PROFILE", "none"}});
    EXPECT_EQ(run.exit_code(), 101) << run.out << run.err;
    const fs::path path = dir() / file_name(run);
    EXPECT_TRUE(reports_failure(run, GEMM,
                                "open cycle profile " + path.string() +
                                    ": No such file or directory (os error 2, kind NotFound)"))
        << run.out;
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    fs::remove(record_path());
  }
}

TEST_F(GemmProfile, WhatCannotBeRemovedFailsBeforeTheLaunch) {
  const auto run = run_one_after("mkdir zlu-stack-gemm-profile-$$.capnp", GEMM);
  EXPECT_EQ(run.exit_code(), 101) << run.out << run.err;
  const fs::path path = dir() / file_name(run);
  EXPECT_TRUE(reports_failure(run, GEMM,
                              "remove stale cycle profile " + path.string() +
                                  ": Is a directory (os error 21, kind IsADirectory)"))
      << run.out;
  EXPECT_TRUE(records().empty());
  EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(GemmProfile, OnlyARegularFileOfTheSuitesUserIsRead) {
  const auto fifo = run_with_profile("fifo");
  EXPECT_EQ(fifo.exit_code(), 101);
  const fs::path fifo_path = dir() / file_name(fifo);
  EXPECT_TRUE(reports_failure(fifo, GEMM, "open cycle profile " + fifo_path.string() + ": not a regular file"))
      << fifo.out;
  EXPECT_EQ(fs::symlink_status(fifo_path).type(), fs::file_type::fifo);

  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  const uid_t other = geteuid() + 4242;
  const auto foreign = run_with_profile("owner=" + std::to_string(other));
  EXPECT_EQ(foreign.exit_code(), 101);
  const fs::path foreign_path = dir() / file_name(foreign);
  EXPECT_TRUE(reports_failure(foreign, GEMM,
                              fmt::format("open cycle profile {}: owned by user {}, not by the suite's user {}",
                                          foreign_path.string(), other, geteuid())))
      << foreign.out;
  EXPECT_TRUE(fs::exists(foreign_path));
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
