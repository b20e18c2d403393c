// The runner executables as a parent process sees them: exit codes, the one
// line on stderr, and deliberate exits and signals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Finished {
  int status = 0;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `program` with the inherited environment minus every ZLU_ variable,
// plus `additions`, capturing its output in temporary files; with
// `stderr_fd` given, standard error goes there instead.
Finished run(const char* program, const std::vector<std::string>& additions, int stderr_fd = -1) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).rfind("ZLU_", 0) != 0) env.emplace_back(*e);
  }
  env.insert(env.end(), additions.begin(), additions.end());
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const std::string folder = std::filesystem::temp_directory_path().string();
  std::string out_path = folder + "/runner-out-XXXXXX";
  std::string err_path = folder + "/runner-err-XXXXXX";
  const int out_fd = mkstemp(out_path.data());
  const int err_fd = mkstemp(err_path.data());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, stderr_fd >= 0 ? stderr_fd : err_fd, STDERR_FILENO);
  char* argv[] = {const_cast<char*>(program), nullptr};
  pid_t child = 0;
  Finished finished;
  const int spawned = posix_spawn(&child, program, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  close(err_fd);
  EXPECT_EQ(spawned, 0) << program;
  if (spawned == 0) {
    EXPECT_EQ(waitpid(child, &finished.status, 0), child);
  }
  finished.out = slurp(out_path);
  finished.err = slurp(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return finished;
}

int exit_code(const Finished& f) { return WIFEXITED(f.status) ? WEXITSTATUS(f.status) : -1; }

// A descriptor every write to fails: a device node like the full device in
// a scratch folder where one can be made, else a pipe without a reader (with
// SIGPIPE ignored, so the writer sees the error instead of the signal).
class UnwritableSink {
 public:
  UnwritableSink() {
    std::string pattern = (std::filesystem::temp_directory_path() / "runner-sink-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      folder_ = pattern;
      const std::string node = pattern + "/full";
      if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) fd_ = open(node.c_str(), O_WRONLY | O_CLOEXEC);
    }
    if (fd_ < 0) {
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) == 0) {
        close(ends[0]);
        fd_ = ends[1];
        std::signal(SIGPIPE, SIG_IGN);
      }
    }
  }
  ~UnwritableSink() {
    if (fd_ >= 0) close(fd_);
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }
  UnwritableSink(const UnwritableSink&) = delete;
  UnwritableSink& operator=(const UnwritableSink&) = delete;
  int fd() const { return fd_; }

 private:
  std::filesystem::path folder_;
  int fd_ = -1;
};

TEST(RunnerProcess, ScenariosOfTheHardwareTestsExitZeroWithASummary) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> runs{
      {GRAPH_RUNNER, {"ZLU_GRAPH_TEST=fanout"}},
      {GRAPH_RUNNER, {"ZLU_GRAPH_TEST=multicast"}},
      {HOST_RUNNER, {}},
      {HOST_RUNNER, {"ZLU_HOST_TEST_EXCHANGE=1", "ZLU_HOST_TEST_INITIALIZED_EXCHANGE=1"}},
      {RANDOM_RUNNER, {"ZLU_RANDOM_SEED=13503953896175478587"}},
  };
  for (const auto& [runner, env] : runs) {
    const auto finished = run(runner, env);
    EXPECT_EQ(exit_code(finished), 0) << runner << ": " << finished.err;
    EXPECT_NE(finished.out.find(": ok: scenario="), std::string::npos) << finished.out;
    EXPECT_NE(finished.out.find(" cycles="), std::string::npos) << finished.out;
    EXPECT_EQ(std::count(finished.out.begin(), finished.out.end(), '\n'), 1) << finished.out;
    EXPECT_TRUE(finished.err.empty()) << finished.err;
  }
}

TEST(RunnerProcess, BadConfigurationExitsTwoNamingTheVariableAndValue) {
  const std::vector<std::tuple<const char*, std::vector<std::string>, std::string>> runs{
      {GRAPH_RUNNER, {"ZLU_GRAPH_TEST=broadcast"}, "ZLU_GRAPH_TEST=\"broadcast\""},
      {GRAPH_RUNNER, {}, "ZLU_GRAPH_TEST"},
      {HOST_RUNNER, {"ZLU_HOST_TEST_TILE=1472"}, "ZLU_HOST_TEST_TILE=\"1472\""},
      {HOST_RUNNER, {"ZLU_HOST_TEST_TILES=1471,274,1471"}, "ZLU_HOST_TEST_TILES=\"1471,274,1471\""},
      {HOST_RUNNER, {"ZLU_HOST_TEST_ADDRESS=0x7ff00", "ZLU_HOST_TEST_BYTES=512"}, "ZLU_HOST_TEST_ADDRESS=\"0x7ff00\""},
      {HOST_RUNNER, {"ZLU_HOST_WRITE_JITTER_MAX_US="}, "ZLU_HOST_WRITE_JITTER_MAX_US=\"\""},
      {HOST_RUNNER, {"ZLU_HOST_WRITE_JITTER_SEED=0x"}, "ZLU_HOST_WRITE_JITTER_SEED=\"0x\""},
      {RANDOM_RUNNER, {"ZLU_RANDOM_SEED=seed"}, "ZLU_RANDOM_SEED=\"seed\""},
      {GRAPH_RUNNER, {"ZLU_GRAPH_TEST=fanout", "ZLU_CARD_ID=-1"}, "ZLU_CARD_ID=\"-1\""},
      {HOST_RUNNER, {"ZLU_CARD_ID=4096"}, "ZLU_CARD_ID=\"4096\""},
      {RANDOM_RUNNER,
       {"ZLU_RANDOM_SEED=1", "ZLU_SIM_FAULT=zlu-randomized-e2e:crash"},
       "ZLU_SIM_FAULT=\"zlu-randomized-e2e:crash\""},
  };
  for (const auto& [runner, env, named] : runs) {
    const auto finished = run(runner, env);
    EXPECT_EQ(exit_code(finished), 2) << runner << " " << named;
    EXPECT_NE(finished.err.find(named), std::string::npos) << finished.err;
    EXPECT_NE(finished.err.find("zlu-"), std::string::npos) << finished.err;
    EXPECT_EQ(std::count(finished.err.begin(), finished.err.end(), '\n'), 1) << finished.err;
    EXPECT_TRUE(finished.out.empty()) << finished.out;
  }
}

TEST(RunnerProcess, AnUnwritableStandardErrorLeavesTheExitStatus) {
  const UnwritableSink sink;
  ASSERT_GE(sink.fd(), 0);
  EXPECT_EQ(exit_code(run(HOST_RUNNER, {"ZLU_HOST_TEST_TILE=99999"}, sink.fd())), 2);
  EXPECT_EQ(exit_code(run(RANDOM_RUNNER, {"ZLU_RANDOM_SEED=seed"}, sink.fd())), 2);
}

TEST(RunnerProcess, FaultInjectionExitsOrDiesAsAsked) {
  const auto exited = run(HOST_RUNNER, {"ZLU_SIM_FAULT=zlu-graph:exit=9,zlu-host-e2e:exit=17"});
  EXPECT_EQ(exit_code(exited), 17);
  EXPECT_TRUE(exited.out.empty());

  const auto killed = run(GRAPH_RUNNER, {"ZLU_GRAPH_TEST=fanout", "ZLU_SIM_FAULT=zlu-hardware-e2e:signal=11"});
  ASSERT_TRUE(WIFSIGNALED(killed.status));
  EXPECT_EQ(WTERMSIG(killed.status), SIGSEGV);

  // Faults run before the configuration is read: exit=0 wins over a bad scenario.
  EXPECT_EQ(exit_code(run(GRAPH_RUNNER, {"ZLU_SIM_FAULT=zlu-hardware-e2e:exit=0"})), 0);
  // Items for other runners leave this one alone.
  EXPECT_EQ(exit_code(run(RANDOM_RUNNER, {"ZLU_RANDOM_SEED=5", "ZLU_SIM_FAULT=zlu-host-e2e:signal=9"})), 0);
}

TEST(RunnerProcess, NamesTheCardItWasGivenInItsReportLine) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> runs{
      {GRAPH_RUNNER, {"ZLU_GRAPH_TEST=fanout", "ZLU_CARD_ID=3"}},
      {RANDOM_RUNNER, {"ZLU_RANDOM_SEED=5", "ZLU_CARD_ID=3"}},
  };
  for (const auto& [runner, env] : runs) {
    const auto finished = run(runner, env);
    EXPECT_EQ(exit_code(finished), 0) << runner << ": " << finished.err;
    EXPECT_NE(finished.out.find("-e2e on card 3: ok: scenario="), std::string::npos) << finished.out;
  }
  const auto failed = run(HOST_RUNNER, {"ZLU_CARD_ID=1", "ZLU_HOST_TEST_TILE=1472"});
  EXPECT_EQ(failed.err.find("zlu-host-e2e on card 1: invalid configuration: "), 0u) << failed.err;
}

}  // namespace
