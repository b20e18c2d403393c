// A stand-in for the five runners, installed under each of their names, so
// that the suite's launch path can be tested against real processes. It
// records what it was started with and then ends as the test tells it:
//
//   ZLU_STANDIN_RECORD   file to append one record to (see record.hpp)
//   ZLU_STANDIN_SLEEP_MS stay alive this long before ending
//   ZLU_STANDIN_RUNNER   apply the outcome below only when started under this name
//   ZLU_STANDIN_WHEN     NAME=VALUE: apply the outcome only when NAME has VALUE
//   ZLU_STANDIN_FAIL_FIRST N: apply the outcome only to the first N starts
//                        that the two settings above let through, counted in
//                        the file ZLU_STANDIN_STARTS (one byte per start)
//   ZLU_STANDIN_EXIT     exit with this code
//   ZLU_STANDIN_SIGNAL   die by this signal (with core images allowed)
//   ZLU_STANDIN_PROFILE  for zlu-gemm-e2e: which profile to write at
//                        ZLU_PROFILE_OUTPUT (see profile_writer.hpp)
//   ZLU_STANDIN_PIDS     file to append this process's id to, one a line,
//                        and that of the child ZLU_STANDIN_HANG may start
//                        (by the child, once it ignores SIGTERM)
//   ZLU_STANDIN_HANG     never end: "sleep" until killed, "ignore-term" as
//                        well with SIGTERM ignored, "with-child" after
//                        starting a child that ignores SIGTERM and sleeps
//   ZLU_STANDIN_SAY      a line every start writes to standard output first
//   ZLU_STANDIN_WRITE_BYTES N: write this many bytes of 64-byte lines to
//                        standard output before the outcome
//   ZLU_STANDIN_ERROR_LINE a line to write to standard error before the
//                        outcome, after the bytes above
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "profile_writer.hpp"
#include "runners/common/contract.hpp"

extern char** environ;

namespace {

std::uint64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

std::string_view env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void append_field(std::string& record, std::string_view key, std::string_view value) {
  record += key;
  record += ' ';
  record += std::to_string(value.size());
  record += '\n';
  record += value;
  record += '\n';
}

// One write with O_APPEND, so records of runners that (wrongly) overlap
// never interleave inside the file.
void write_record(const char* path, std::string_view runner, std::uint64_t start, std::uint64_t end) {
  std::string record;
  append_field(record, "runner", runner);
  append_field(record, "start", std::to_string(start));
  append_field(record, "end", std::to_string(end));
  struct sigaction pipe_action{};
  sigaction(SIGPIPE, nullptr, &pipe_action);
  append_field(record, "sigpipe", pipe_action.sa_handler == SIG_DFL ? "default" : "changed");
  sigset_t mask;
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  bool empty_mask = true;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&mask, signal) == 1) empty_mask = false;
  }
  append_field(record, "sigmask", empty_mask ? "empty" : "blocked");
  for (char** entry = environ; *entry != nullptr; ++entry) append_field(record, "env", *entry);
  append_field(record, "done", "");

  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size())) {
    std::fprintf(stderr, "stand-in runner: cannot record to %s: %s\n", path, std::strerror(errno));
    std::exit(70);
  }
  close(fd);
}

bool outcome_applies(std::string_view runner) {
  std::string_view only_runner = env_or_empty("ZLU_STANDIN_RUNNER");
  if (!only_runner.empty() && only_runner != runner) return false;
  std::string_view when = env_or_empty("ZLU_STANDIN_WHEN");
  if (when.empty()) return true;
  auto equals = when.find('=');
  std::string name(when.substr(0, equals));
  const char* value = std::getenv(name.c_str());
  return value != nullptr && equals != std::string_view::npos && when.substr(equals + 1) == value;
}

// Counts this start in ZLU_STANDIN_STARTS and tells whether it is among the
// first ZLU_STANDIN_FAIL_FIRST; every start is when no limit is set.
bool among_first_starts() {
  const char* limit = std::getenv("ZLU_STANDIN_FAIL_FIRST");
  if (limit == nullptr) return true;
  const char* path = std::getenv("ZLU_STANDIN_STARTS");
  struct stat counted{};
  const int fd = path != nullptr ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
  if (fd < 0 || write(fd, "s", 1) != 1 || fstat(fd, &counted) != 0) {
    std::fprintf(stderr, "stand-in runner: cannot count starts in %s\n", path != nullptr ? path : "(unset)");
    std::exit(73);
  }
  close(fd);
  return counted.st_size <= std::atol(limit);
}

void append_pid(pid_t pid) {
  const char* path = std::getenv("ZLU_STANDIN_PIDS");
  if (path == nullptr) return;
  const std::string line = std::to_string(pid) + "\n";
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::exit(72);
  close(fd);
}

void write_or_exit(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) std::exit(74);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void write_line(int fd, const char* text) {
  if (text != nullptr) write_or_exit(fd, std::string(text) + "\n");
}

// `count` bytes of lines of 63 dots and a line feed, in large writes.
void write_bytes(std::uint64_t count) {
  constexpr std::size_t LINE = 64;
  std::string block(LINE * 1024, '.');
  for (std::size_t i = LINE - 1; i < block.size(); i += LINE) block[i] = '\n';
  while (count > 0) {
    const std::size_t size = count < block.size() ? static_cast<std::size_t>(count) : block.size();
    write_or_exit(1, std::string_view(block).substr(0, size));
    count -= size;
  }
}

[[noreturn]] void sleep_forever() {
  while (true) pause();
}

[[noreturn]] void hang(std::string_view how) {
  if (how == "ignore-term") std::signal(SIGTERM, SIG_IGN);
  if (how == "with-child") {
    // The child lists itself once it ignores SIGTERM, so that a test that
    // sees it listed can count on that.
    if (fork() == 0) {
      std::signal(SIGTERM, SIG_IGN);
      append_pid(getpid());
      sleep_forever();
    }
  }
  sleep_forever();
}

[[noreturn]] void die_by_signal(int signal) {
  // Allow a core image so that the "(core dumped)" rendering can be seen.
  rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
  if (setrlimit(RLIMIT_CORE, &unlimited) != 0) {
    rlimit current{};
    getrlimit(RLIMIT_CORE, &current);
    current.rlim_cur = current.rlim_max;
    setrlimit(RLIMIT_CORE, &current);
  }
  std::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  kill(getpid(), signal);
  std::fprintf(stderr, "stand-in runner: signal %d did not end the process\n", signal);
  std::exit(71);
}

}  // namespace

int main(int, char** argv) {
  const std::uint64_t start = monotonic_ns();
  std::string_view runner = argv[0] != nullptr ? argv[0] : "";
  if (auto slash = runner.rfind('/'); slash != std::string_view::npos) runner.remove_prefix(slash + 1);

  // A runner that is to hang ignoring SIGTERM ignores it before it lists
  // itself, so that a test that sees it listed can count on that.
  const char* hang_how = std::getenv("ZLU_STANDIN_HANG");
  if (hang_how != nullptr && std::string_view(hang_how) == "ignore-term" && outcome_applies(runner)) {
    std::signal(SIGTERM, SIG_IGN);
  }
  append_pid(getpid());
  if (const char* sleep_ms = std::getenv("ZLU_STANDIN_SLEEP_MS")) usleep(static_cast<useconds_t>(std::atoi(sleep_ms)) * 1000u);

  if (const char* record = std::getenv("ZLU_STANDIN_RECORD")) write_record(record, runner, start, monotonic_ns());

  write_line(1, std::getenv("ZLU_STANDIN_SAY"));
  const bool applies = outcome_applies(runner) && among_first_starts();
  if (applies) {
    if (const char* count = std::getenv("ZLU_STANDIN_WRITE_BYTES")) write_bytes(std::strtoull(count, nullptr, 10));
    write_line(2, std::getenv("ZLU_STANDIN_ERROR_LINE"));
    if (hang_how != nullptr) hang(hang_how);
    if (const char* signal = std::getenv("ZLU_STANDIN_SIGNAL")) die_by_signal(std::atoi(signal));
    if (const char* code = std::getenv("ZLU_STANDIN_EXIT")) return std::atoi(code);
  }
  if (runner == zlu_contract::GEMM_RUNNER) {
    if (const char* output = std::getenv(zlu_contract::PROFILE_OUTPUT)) {
      std::string_view choice = applies ? env_or_empty("ZLU_STANDIN_PROFILE") : "";
      if (auto error = write_chosen_profile(output, choice)) {
        std::fprintf(stderr, "stand-in runner: %s\n", error->c_str());
        return static_cast<int>(zlu_contract::ExitCode::ConfigInvalid);
      }
    }
  }
  return 0;
}
