#include "launch/runner_watchdog.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fmt/format.h>

#include "harness/src/reports/io_error.hpp"
#include "system/os_error.hpp"
#include "launch/runner_timeout.hpp"

namespace hardware_e2e {
namespace {

constexpr auto CHECK_INTERVAL = std::chrono::milliseconds(10);
constexpr std::size_t SLOTS_BYTES = RunnerWatchdog::SLOTS * sizeof(pid_t);

// What follows runs in the watchdog, a fork of a threaded process, where
// malloc may hold a lock another thread took: only system calls.

void close_all_but(int kept) {
  const bool below = kept == 0 || syscall(SYS_close_range, 0u, static_cast<unsigned>(kept - 1), 0u) == 0;
  if (below && syscall(SYS_close_range, static_cast<unsigned>(kept + 1), ~0u, 0u) == 0) return;
  // A kernel without close_range: every descriptor the limit allows.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  for (rlim_t fd = 0; fd < limit.rlim_cur; ++fd) {
    if (static_cast<int>(fd) != kept) close(static_cast<int>(fd));
  }
}

void signal_listed(const pid_t* slots, int signal) {
  for (std::size_t i = 0; i < RunnerWatchdog::SLOTS; ++i) {
    if (slots[i] != 0) kill(-slots[i], signal);
  }
}

// Unlists the groups that have no process left; true when none is listed.
bool unlist_ended(pid_t* slots) {
  bool none = true;
  for (std::size_t i = 0; i < RunnerWatchdog::SLOTS; ++i) {
    if (slots[i] != 0 && kill(-slots[i], 0) != 0 && errno == ESRCH) slots[i] = 0;
    none = none && slots[i] == 0;
  }
  return none;
}

// SIGTERM to every listed group, then SIGKILL to those still there after
// the grace. The suite has ended: nothing else writes the list now.
void stop_listed(pid_t* slots) {
  signal_listed(slots, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + RUNNER_STOP_GRACE;
  const timespec interval{0, static_cast<long>(std::chrono::nanoseconds(CHECK_INTERVAL).count())};
  while (!unlist_ended(slots)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      signal_listed(slots, SIGKILL);
      return;
    }
    nanosleep(&interval, nullptr);
  }
}

[[noreturn]] void watch(int suite_end, pid_t* slots) {
  setsid();
  prctl(PR_SET_NAME, WATCHDOG_NAME);
  close_all_but(suite_end);
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGKILL && signal != SIGSTOP) sigaction(signal, &action, nullptr);
  }
  action.sa_handler = SIG_IGN;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Nothing is ever written: the read returns when the suite's end closes.
  char nothing = 0;
  ssize_t got = 0;
  do {
    got = read(suite_end, &nothing, 1);
  } while (got > 0 || (got < 0 && errno == EINTR));
  stop_listed(slots);
  _exit(0);
}

RunnerWatchdog* not_started(int error) {
  harness::write_all(2, fmt::format("warning: the runner watchdog was not started: {}\n", render_os_error(error)));
  return nullptr;
}

}  // namespace

RunnerWatchdog* RunnerWatchdog::get() {
  // Never destroyed: runners may still be reaped while main returns.
  static RunnerWatchdog* const started = []() -> RunnerWatchdog* {
    void* shared = mmap(nullptr, SLOTS_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (shared == MAP_FAILED) return not_started(errno);
    auto* slots = static_cast<pid_t*>(shared);
    // The suite keeps the write end open, unused, for as long as it lives;
    // close-on-exec keeps it out of the runners.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      const int error = errno;
      munmap(shared, SLOTS_BYTES);
      return not_started(error);
    }
    // No handler of the suite may run in the child before it resets them.
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    const pid_t pid = fork();
    if (pid == 0) watch(ends[0], slots);
    const int fork_error = errno;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    close(ends[0]);
    if (pid < 0) {
      close(ends[1]);
      munmap(shared, SLOTS_BYTES);
      return not_started(fork_error);
    }
    return new RunnerWatchdog(slots);
  }();
  return started;
}

// Also called in a child that shares the suite's memory: no sanitizer
// bookkeeping there.
[[gnu::no_sanitize_address]] int RunnerWatchdog::list(pid_t group) {
  for (std::size_t i = 0; i < SLOTS; ++i) {
    pid_t free = 0;
    if (std::atomic_ref(slots_[i]).compare_exchange_strong(free, group)) return static_cast<int>(i);
  }
  return NOT_LISTED;
}

[[gnu::no_sanitize_address]] void RunnerWatchdog::unlist(int slot) {
  if (slot != NOT_LISTED) std::atomic_ref(slots_[slot]).store(0);
}

}  // namespace hardware_e2e
