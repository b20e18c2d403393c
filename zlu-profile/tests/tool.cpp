#include "tool.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace zlu_profile::testing {

UnwritableSink::UnwritableSink() {
  const std::filesystem::path node = scratch_ / "full";
  if (::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) {
    fd_ = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
  }
  int ends[2];
  if (fd_ < 0 && ::pipe2(ends, O_CLOEXEC) == 0) {
    ::close(ends[0]);
    fd_ = ends[1];
    std::signal(SIGPIPE, SIG_IGN);
  }
  if (fd_ < 0) {
    throw std::runtime_error("cannot make an unwritable descriptor");
  }
}

UnwritableSink::~UnwritableSink() { ::close(fd_); }

namespace {

constexpr int PROGRAM_TIME_LIMIT_MS = 30'000;

// Waits for `pid`, killing it once the time limit has passed.
int wait_within_limit(pid_t pid, const std::filesystem::path& program) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd exited{.fd = pidfd, .events = POLLIN, .revents = 0};
    int ready = 0;
    while ((ready = ::poll(&exited, 1, PROGRAM_TIME_LIMIT_MS)) < 0 && errno == EINTR) {
    }
    if (ready == 0) {
      ::kill(pid, SIGKILL);
    }
    ::close(pidfd);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("cannot wait for " + program.string());
    }
  }
  return status;
}

}  // namespace

ProgramRun run_program(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       int stdout_fd) {
  // Output goes to files rather than pipes so that a chatty program can
  // never block on a full pipe while we wait for it.
  const ScratchDir scratch;
  const std::string out_path = (scratch / "out").string();
  const std::string err_path = (scratch / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv_storage{program.string()};
  argv_storage.insert(argv_storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argv_storage) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  // Started as a shell starts it, with SIGPIPE at its default whatever this
  // process does with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    throw std::runtime_error("cannot start " + program.string());
  }
  const int status = wait_within_limit(pid, program);
  return {.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          .out = read_file(out_path),
          .err = read_file(err_path)};
}

ProgramRun run_tool(const std::vector<std::string>& arguments, int stdout_fd) {
  return run_program(ZLU_PROFILE_TOOL, arguments, stdout_fd);
}

}  // namespace zlu_profile::testing
