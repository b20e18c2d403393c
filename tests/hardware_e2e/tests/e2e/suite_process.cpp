#include "suite_process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <poll.h>
#include <sys/syscall.h>

extern char** environ;

namespace hardware_e2e_tests {

int SuiteRun::exit_code() const { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

namespace {

constexpr int SUITE_TIME_LIMIT_MS = 60'000;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream buffer;
  buffer << file.rdbuf();
  return buffer.str();
}

std::vector<std::string> child_environment(const ChildEnvironment& environment) {
  std::vector<std::string> block;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text = *entry;
    std::string name(text.substr(0, text.find('=')));
    if (name.starts_with("ZLU_") || name == "TMPDIR" || environment.contains(name)) continue;
    block.emplace_back(text);
  }
  for (const auto& [name, value] : environment) {
    if (value) block.push_back(name + "=" + *value);
  }
  return block;
}

}  // namespace

StartedProgram start_program(const std::string& program, const std::vector<std::string>& args,
                             const ChildEnvironment& environment, const std::filesystem::path& cwd,
                             bool own_group) {
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  auto env_text = child_environment(environment);
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // Unique names: several children may run in one folder at once.
  std::string out_name = (cwd / ".suite-stdout-XXXXXX").string();
  std::string err_name = (cwd / ".suite-stderr-XXXXXX").string();
  const int out_fd = mkstemp(out_name.data());
  const int err_fd = mkstemp(err_name.data());
  if (out_fd < 0 || err_fd < 0) throw std::runtime_error(std::string("cannot make output files: ") + std::strerror(errno));
  close(out_fd);
  close(err_fd);
  const std::filesystem::path out_path = out_name;
  const std::filesystem::path err_path = err_name;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  // The suite must reset these for its runners; start it with them changed.
  std::signal(SIGPIPE, SIG_IGN);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  posix_spawnattr_setsigmask(&attributes, &blocked);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int flags = POSIX_SPAWN_SETSIGMASK | (own_group ? POSIX_SPAWN_SETPGROUP : 0);
  posix_spawnattr_setflags(&attributes, static_cast<short>(flags));

  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
  return StartedProgram{pid, out_path, err_path};
}

SuiteRun wait_program(const StartedProgram& started) {
  SuiteRun run;
  run.pid = started.pid;
  // A suite that hangs (on a FIFO, say) is killed, so that the test fails
  // instead of never ending.
  if (const int exited = static_cast<int>(syscall(SYS_pidfd_open, started.pid, 0)); exited >= 0) {
    pollfd event{.fd = exited, .events = POLLIN, .revents = 0};
    int ready = 0;
    while ((ready = poll(&event, 1, SUITE_TIME_LIMIT_MS)) < 0 && errno == EINTR) {
    }
    if (ready == 0) kill(started.pid, SIGKILL);
    close(exited);
  }
  rusage usage{};
  while (wait4(started.pid, &run.wait_status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("cannot wait for the suite: ") + std::strerror(errno));
  }
  run.peak_rss_kib = usage.ru_maxrss;
  run.out = read_file(started.out_path);
  run.err = read_file(started.err_path);
  std::filesystem::remove(started.out_path);
  std::filesystem::remove(started.err_path);
  return run;
}

SuiteRun run_program(const std::string& program, const std::vector<std::string>& args,
                     const ChildEnvironment& environment, const std::filesystem::path& cwd,
                     const WhileRunning& while_running) {
  const StartedProgram started = start_program(program, args, environment, cwd);
  if (while_running) while_running(started.pid);
  return wait_program(started);
}

void SuiteTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hardware-e2e-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
  dir_ = pattern;
}

void SuiteTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

StartedProgram SuiteTest::start_suite(const std::vector<std::string>& args, ChildEnvironment environment,
                                      bool own_group) {
  environment.try_emplace("ZLU_STANDIN_RECORD", record_path().string());
  environment.try_emplace("TMPDIR", dir_.string());
  environment.try_emplace("ZLU_TEST_LOCK_DIR", lock_dir().string());
  return start_program(STANDIN_SUITE, args, environment, dir_, own_group);
}

SuiteRun SuiteTest::run_suite(const std::vector<std::string>& args, ChildEnvironment environment,
                              const WhileRunning& while_running) {
  const StartedProgram started = start_suite(args, std::move(environment));
  if (while_running) while_running(started.pid);
  return wait_program(started);
}

SuiteRun SuiteTest::run_one_after(const std::string& shell_command, const std::string& test,
                                  ChildEnvironment environment) {
  environment.try_emplace("ZLU_STANDIN_RECORD", record_path().string());
  environment.try_emplace("TMPDIR", dir_.string());
  environment.try_emplace("ZLU_TEST_LOCK_DIR", lock_dir().string());
  // exec keeps the shell's process id for the suite.
  return run_program("/bin/sh",
                     {"-c", shell_command + " && exec \"$0\" \"$@\"", STANDIN_SUITE, "--exact", test,
                      "--test-threads", "1"},
                     environment, dir_);
}

SuiteRun SuiteTest::run_broken_suite(const std::vector<std::string>& args) {
  return run_program(BROKEN_SUITE, args, {{"ZLU_TEST_LOCK_DIR", lock_dir().string()}}, dir_);
}

SuiteRun SuiteTest::run_one(const std::string& test, ChildEnvironment environment) {
  return run_suite({"--exact", test, "--test-threads", "1"}, std::move(environment));
}

std::vector<RunnerRecord> SuiteTest::records() const { return read_records(record_path()); }

bool reports_failure(const SuiteRun& run, const std::string& test, const std::string& message) {
  const auto header = run.out.find("thread '" + test + "'");
  if (header == std::string::npos) return false;
  const auto panicked = run.out.find("panicked at ", header);
  if (panicked == std::string::npos) return false;
  const auto line_end = run.out.find(":\n", panicked);
  return line_end != std::string::npos && run.out.compare(line_end + 2, message.size() + 1, message + "\n") == 0;
}

}  // namespace hardware_e2e_tests
