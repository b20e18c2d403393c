#include "child_process.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <cctype>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace harness_e2e {
namespace {

// A file descriptor closed with its owner.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    reset();
    fd_ = other.fd_;
    other.fd_ = -1;
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

std::pair<Fd, Fd> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  return {Fd(fds[0]), Fd(fds[1])};
}

// Reads both streams to their end; a terminal's end shows as EIO.
void drain(Fd& out, std::string& out_text, Fd& err, std::string& err_text) {
  char buffer[4096];
  while (out.get() >= 0 || err.get() >= 0) {
    pollfd fds[2] = {{out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? out_text : err_text).append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        (i == 0 ? out : err).reset();
      }
    }
  }
}

}  // namespace

ChildRun run_demo(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                  StdoutKind stdout_kind) {
  std::vector<std::string> argv_text = {HARNESS_DEMO_PATH};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<std::string> env_text;
  // PATH for the demo's child process; the sanitizer settings so that a
  // sanitized build of the demo reports the way the test process does.
  for (const char* name : {"PATH", "TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env_text.push_back(std::string(name) + "=" + value);
  }
  for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  for (auto& entry : env_text) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  Fd out_read, out_write;
  if (stdout_kind == StdoutKind::Terminal) {
    int controller = -1, terminal = -1;
    termios settings{};
    cfmakeraw(&settings);
    if (::openpty(&controller, &terminal, nullptr, &settings, nullptr) != 0) throw std::runtime_error("openpty failed");
    ::fcntl(controller, F_SETFD, FD_CLOEXEC);
    out_read = Fd(controller);
    out_write = Fd(terminal);
  } else {
    std::tie(out_read, out_write) = make_pipe();
  }
  auto [err_read, err_write] = make_pipe();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_kind == StdoutKind::Closed) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out_write.get(), 1);
  }
  posix_spawn_file_actions_adddup2(&actions, err_write.get(), 2);
  if (stdout_kind == StdoutKind::ClosedPipe) out_read.reset();
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv_text[0]);
  out_write.reset();
  err_write.reset();

  ChildRun run;
  drain(out_read, run.stdout_text, err_read, run.stderr_text);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

namespace {

// Replaces, after every occurrence of `before`, a number with `decimals`
// decimals ending in `after` by `replacement`.
std::string replace_numbers(const std::string& text, std::string_view before, std::size_t decimals,
                            std::string_view after, std::string_view replacement) {
  std::string result;
  std::size_t at = 0;
  while (true) {
    const std::size_t found = text.find(before, at);
    if (found == std::string::npos) break;
    std::size_t end = found + before.size();
    const std::size_t digits = end;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    bool matches = end > digits && end < text.size() && text[end] == '.';
    if (matches) {
      const std::size_t fraction = ++end;
      while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
      matches = end - fraction == decimals && text.compare(end, after.size(), after) == 0;
    }
    if (matches) {
      result.append(text, at, found - at).append(replacement);
      at = end + after.size();
    } else {
      result.append(text, at, found + 1 - at);
      at = found + 1;
    }
  }
  return result.append(text, at);
}

}  // namespace

std::string without_times(const std::string& text) {
  return replace_numbers(replace_numbers(text, "finished in ", 2, "s", "finished in <T>s"), "<", 3, "s>", "<T>");
}

std::string without_thread_ids(const std::string& text) {
  std::string result;
  std::size_t at = 0;
  const std::string_view tail = ") panicked at ";
  while (true) {
    const std::size_t found = text.find("' (", at);
    if (found == std::string::npos) break;
    std::size_t end = found + 3;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end > found + 3 && text.compare(end, tail.size(), tail) == 0) {
      result.append(text, at, found - at).append("' (TID").append(tail);
      at = end + tail.size();
    } else {
      result.append(text, at, found + 1 - at);
      at = found + 1;
    }
  }
  return result.append(text, at);
}

}  // namespace harness_e2e
