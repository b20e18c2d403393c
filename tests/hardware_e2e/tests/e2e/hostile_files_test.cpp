// Outputs that cannot take what is written to them: a file-size limit (as a
// full or quota-limited disk behaves) and FIFOs that nobody reads. The suite,
// zlu-profile and the GEMM runner must end with their documented status and
// message, keep an old file as it was and leave no new file half written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

namespace fs = std::filesystem;

constexpr int CHILD_TIME_LIMIT_MS = 60'000;

std::string read_text(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream buffer;
  buffer << file.rdbuf();
  return buffer.str();
}

void write_text(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Files in `folder` whose names mark a new file of the atomic writer.
std::vector<std::string> temporary_files(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".tmp")) found.push_back(name);
  }
  return found;
}

struct LimitedRun {
  int wait_status = 0;
  std::string output;  // standard error, and standard output when no file takes it

  // The exit code, or -1 for a death by signal (or a hang that was killed).
  int exit_code() const { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }
};

// Runs `argv` in `cwd` with `environment` added, its files limited to
// `file_size_limit` bytes. Standard output goes to `report` when given, else
// with standard error into a pipe, which no file-size limit touches.
LimitedRun run_limited(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                       const fs::path& cwd, rlim_t file_size_limit, const std::optional<fs::path>& report) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
  std::vector<std::string> env_text = environment;
  env_text.push_back("PATH=/usr/bin:/bin");
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& entry : env_text) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit limit{file_size_limit, file_size_limit};
    const int out = report ? open(report->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : pipe_fds[1];
    if (chdir(cwd.c_str()) != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0 || out < 0 || dup2(out, 1) < 0 ||
        dup2(pipe_fds[1], 2) < 0) {
      _exit(126);
    }
    std::signal(SIGPIPE, SIG_DFL);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  LimitedRun run;
  char buffer[4096];
  pollfd readable{.fd = pipe_fds[0], .events = POLLIN, .revents = 0};
  while (poll(&readable, 1, CHILD_TIME_LIMIT_MS) > 0) {
    const ssize_t got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipe_fds[0]);
  kill(pid, SIGKILL);  // a child that still holds the pipe after the time limit hangs
  waitpid(pid, &run.wait_status, 0);
  return run;
}

class HostileFiles : public SuiteTest {};

// Each program under a file-size limit smaller than what it writes: the
// write fails with EFBIG instead of the process dying of SIGXFSZ.
TEST_F(HostileFiles, AFileSizeLimitIsAWriteErrorThatKeepsTheOldFile) {
  const std::string suite = STANDIN_SUITE;
  const std::string locks = "ZLU_TEST_LOCK_DIR=" + lock_dir().string();
  const std::string tmpdir = "TMPDIR=" + dir().string();
  const std::string bootstrap = "ZLU_TEST_BOOTSTRAP=1";
  const std::string too_large = "error: io error when listing tests: File too large (os error 27)\n";
  const fs::path profile = dir() / "profile.capnp";
  const auto made = run_program(STANDIN_RUNNER_DIR "/zlu-gemm-e2e", {}, {{"ZLU_PROFILE_OUTPUT", profile.string()}},
                                dir());
  ASSERT_EQ(made.exit_code(), 0) << made.err;

  struct Case {
    std::string name;
    std::vector<std::string> argv;
    std::vector<std::string> environment;
    // The file the limit stops: the report (standard output) when `report`,
    // else an output named by the command, which holds "old" beforehand;
    // empty: no file is checked.
    bool report;
    std::string limited_file;
    int exit_code;
    std::string message;  // expected in the output
    rlim_t limit = 100;
  };
  const std::string one = "local_h2d_and_d2h_round_trip_works";
  const std::vector<Case> cases = {
      {"pretty report", {suite, "--exact", one}, {locks, tmpdir}, true, "report", 101, too_large},
      {"terse report", {suite, "--exact", one, "-q"}, {locks, tmpdir}, true, "report", 101, too_large},
      {"json report",
       {suite, "--exact", one, "-Z", "unstable-options", "--format", "json"},
       {locks, tmpdir, bootstrap},
       true,
       "report",
       101,
       too_large},
      {"junit report",
       {suite, "--exact", one, "-Z", "unstable-options", "--format", "junit"},
       {locks, tmpdir, bootstrap},
       true,
       "report",
       101,
       too_large},
      // Every test but the one whose runner writes a profile: a log line each.
      {"log file",
       {suite, "--skip", "gemm", "--logfile", "run.log"},
       {locks, tmpdir},
       false,
       "run.log",
       101,
       too_large},
      {"timeline",
       {suite, "--exact", one},
       {locks, tmpdir, "ZLU_TEST_TIMELINE=" + (dir() / "run.json").string()},
       false,
       "run.json",
       0,
       "ZLU_TEST_TIMELINE: the timeline was not written: write " + (dir() / ".run.json.").string()},
      {"zlu-profile trace",
       {ZLU_PROFILE, "trace", profile.string(), "-o", "trace.json"},
       {},
       false,
       "trace.json",
       2,
       "zlu-profile: trace.json: write failed: File too large\n"},
      {"zlu-profile svg",
       {ZLU_PROFILE, "svg", profile.string(), "-o", "card.svg"},
       {},
       false,
       "card.svg",
       2,
       "zlu-profile: card.svg: write failed: File too large\n"},
      {"zlu-gemm-e2e profile",
       {GEMM_RUNNER},
       {"ZLU_GEMM_DIMENSION=32", "ZLU_PROFILE_OUTPUT=" + (dir() / "gemm.capnp").string()},
       false,
       "gemm.capnp",
       1,
       "profile not written: write " + (dir() / ".gemm.capnp.").string()},
      // Nothing may be written at all: the card's lock record only misses
      // its runner's group, and the runner runs.
      {"runner", {suite, "--exact", one}, {locks, tmpdir}, false, "", 0, "test result: ok.", 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const fs::path limited = dir() / test.limited_file;
    if (!test.report && !test.limited_file.empty()) write_text(limited, "old");
    const auto run = run_limited(test.argv, test.environment, dir(), test.limit,
                                 test.report ? std::optional(limited) : std::nullopt);
    EXPECT_EQ(run.exit_code(), test.exit_code) << run.output;
    EXPECT_NE(run.output.find(test.message), std::string::npos) << run.output;
    if (test.report) {
      EXPECT_EQ(fs::file_size(limited), test.limit);
    } else if (!test.limited_file.empty() && test.limited_file != "run.log") {
      EXPECT_EQ(read_text(limited), "old");
    }
    const auto left = temporary_files(dir());
    EXPECT_EQ(left, std::vector<std::string>{});
    for (const std::string& name : left) fs::remove(dir() / name);
    if (!test.limited_file.empty()) fs::remove(limited);
  }
}

// A FIFO is written while a process reads it; one that nobody reads is
// refused at once, where opening it would wait for a reader forever.
TEST_F(HostileFiles, AFifoIsWrittenWhileReadAndRefusedWithoutAReader) {
  const std::string one = "local_h2d_and_d2h_round_trip_works";
  const fs::path fifo = dir() / "fifo";
  struct Case {
    std::string name;
    std::vector<std::string> args;
    ChildEnvironment environment;
    bool reader;
    int exit_code;
    std::string err;       // the whole of standard error
    std::string received;  // the start of what the reader got
  };
  const std::string warning = "warning: `--logfile` is deprecated";
  const std::vector<Case> cases = {
      {"timeline, no reader",
       {"--exact", one},
       {{"ZLU_TEST_TIMELINE", fifo.string()}},
       false,
       0,
       "ZLU_TEST_TIMELINE: the timeline was not written: open " + fifo.string() +
           ": no process has this FIFO open for reading\n",
       ""},
      {"timeline, read", {"--exact", one}, {{"ZLU_TEST_TIMELINE", fifo.string()}}, true, 0, "", "{"},
      {"log file, no reader",
       {"--exact", one, "--logfile", fifo.string()},
       {},
       false,
       101,
       warning + "error: --logfile is `" + fifo.string() + "`, a FIFO that no process reads; start its reader first.\n",
       ""},
      {"log file, read", {"--exact", one, "--logfile", fifo.string()}, {}, true, 0, warning, "ok " + one + "\n"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    const int reader = test.reader ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    const auto run = run_suite(test.args, test.environment);
    EXPECT_EQ(run.exit_code(), test.exit_code) << run.out << run.err;
    EXPECT_EQ(run.err, test.err);
    std::string received(1 << 16, '\0');
    const ssize_t got = reader >= 0 ? read(reader, received.data(), received.size()) : 0;
    received.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    EXPECT_TRUE(received.starts_with(test.received)) << received;
    if (reader >= 0) close(reader);
    fs::remove(fifo);
    fs::remove(record_path());
  }
}

}  // namespace
}  // namespace hardware_e2e_tests
