// Running a build of the suite as a child process and collecting what it did.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner_record.hpp"

namespace hardware_e2e_tests {

struct SuiteRun {
  // How the suite ended and what it printed.

  int pid = 0;
  int wait_status = 0;
  long peak_rss_kib = 0;  // the most memory the suite (or a runner) held at once
  std::string out;
  std::string err;

  int exit_code() const;
  // The exit code, or -1 when the suite did not exit normally.
};

using ChildEnvironment = std::map<std::string, std::optional<std::string>>;
// Variables for the child: every inherited ZLU_ variable and TMPDIR are
// dropped first, so that the developer's own settings never leak in;
// entries with a value set the variable, entries without unset it.

struct StartedProgram {
  // A child still running, and the files its output goes to.

  int pid = 0;
  std::filesystem::path out_path;
  std::filesystem::path err_path;
};

StartedProgram start_program(const std::string& program, const std::vector<std::string>& args,
                             const ChildEnvironment& environment, const std::filesystem::path& cwd,
                             bool own_group = false);
// Starts `program` with `args` in `cwd`, with SIGPIPE ignored and SIGUSR1
// blocked as a careless parent would leave them; with `own_group`, as the
// leader of a new process group, so that the group can be signalled.
SuiteRun wait_program(const StartedProgram& started);
// Waits for it and collects its output; after a minute it is killed (and its
// run did not exit normally).

using WhileRunning = std::function<void(int pid)>;

SuiteRun run_program(const std::string& program, const std::vector<std::string>& args,
                     const ChildEnvironment& environment, const std::filesystem::path& cwd,
                     const WhileRunning& while_running = {});
// Both in one, calling `while_running` with its process id in between.

class SuiteTest : public testing::Test {
  // A fresh folder per test, removed afterwards, with a record file the
  // stand-in runners append to and helpers to run the suite builds in it.

 protected:
  void SetUp() override;
  void TearDown() override;

  SuiteRun run_suite(const std::vector<std::string>& args, ChildEnvironment environment = {},
                     const WhileRunning& while_running = {});
  // The stand-in build, with ZLU_STANDIN_RECORD, TMPDIR and ZLU_TEST_LOCK_DIR pointing into dir().
  StartedProgram start_suite(const std::vector<std::string>& args, ChildEnvironment environment = {},
                             bool own_group = false);
  SuiteRun run_broken_suite(const std::vector<std::string>& args);
  // The build whose runner folder holds one non-executable runner and nothing else.
  SuiteRun run_one(const std::string& test, ChildEnvironment environment = {});
  // Exactly one test, serially.
  SuiteRun run_one_after(const std::string& shell_command, const std::string& test, ChildEnvironment environment = {});
  // As run_one, but first runs `shell_command` in dir() in the process that
  // then becomes the suite, so that "$$" in it is the suite's process id.

  std::vector<RunnerRecord> records() const;
  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path record_path() const { return dir_ / "records"; }
  std::filesystem::path lock_dir() const { return dir_ / "locks"; }

 private:
  std::filesystem::path dir_;
};

bool reports_failure(const SuiteRun& run, const std::string& test, const std::string& message);
// "thread '<test>' ... panicked at ...:\n<message>\n" is in the captured output.

}  // namespace hardware_e2e_tests
