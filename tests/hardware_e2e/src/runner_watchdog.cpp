#include "runner_watchdog.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fmt/format.h>

#include "harness/src/io_error.hpp"
#include "os_error.hpp"
#include "runner_timeout.hpp"

namespace hardware_e2e {
namespace {

// One message per note: the group's id when it is announced, the id
// negated when it is withdrawn. A message on a seqpacket socket arrives
// whole, whichever thread sent it.
using Note = std::int32_t;
static_assert(sizeof(pid_t) == sizeof(Note));

constexpr auto CHECK_INTERVAL = std::chrono::milliseconds(10);
constexpr std::size_t FIRST_LIST_BYTES = 4096;

// Also called in a child that shares the suite's memory: no sanitizer
// bookkeeping there.
[[gnu::no_sanitize_address]] void send_note(int channel, Note note) {
  if (channel < 0) return;
  // No SIGPIPE when the watchdog has gone: there is nothing left to tell.
  while (send(channel, &note, sizeof note, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

class GroupList {
  // The groups announced and not withdrawn, in memory the watchdog maps
  // itself: it is a fork of a threaded process, where malloc may hold a
  // lock another thread took. Only system calls from here on.

 public:
  void add(pid_t group) {
    if (count_ == capacity_ && !grow()) return;
    groups_[count_++] = group;
  }

  void remove(pid_t group) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (groups_[i] == group) {
        groups_[i] = groups_[--count_];
        return;
      }
    }
  }

  void signal_all(int signal) const {
    for (std::size_t i = 0; i < count_; ++i) kill(-groups_[i], signal);
  }

  bool drop_ended() {
    // Keeps the groups that still have a process; true when none is left.
    for (std::size_t i = 0; i < count_;) {
      if (kill(-groups_[i], 0) != 0 && errno == ESRCH) {
        groups_[i] = groups_[--count_];
      } else {
        ++i;
      }
    }
    return count_ == 0;
  }

 private:
  bool grow() {
    const std::size_t bytes = capacity_ * sizeof(pid_t);
    const std::size_t larger = bytes == 0 ? FIRST_LIST_BYTES : 2 * bytes;
    void* moved = bytes == 0 ? mmap(nullptr, larger, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                             : mremap(groups_, bytes, larger, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return false;
    groups_ = static_cast<pid_t*>(moved);
    capacity_ = larger / sizeof(pid_t);
    return true;
  }

  pid_t* groups_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

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

// SIGTERM to every group, then SIGKILL to those still there after the grace.
void stop_groups(GroupList& groups) {
  groups.signal_all(SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + RUNNER_STOP_GRACE;
  const timespec interval{0, static_cast<long>(std::chrono::nanoseconds(CHECK_INTERVAL).count())};
  while (!groups.drop_ended()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      groups.signal_all(SIGKILL);
      return;
    }
    nanosleep(&interval, nullptr);
  }
}

// The watchdog's life, in the forked child: it returns never.
[[noreturn]] void watch(int channel) {
  setsid();
  prctl(PR_SET_NAME, WATCHDOG_NAME);
  close_all_but(channel);
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

  GroupList groups;
  while (true) {
    Note note = 0;
    const ssize_t received = recv(channel, &note, sizeof note, 0);
    if (received < 0 && errno == EINTR) continue;
    // End of file: the suite's end is closed, the suite has ended.
    if (received <= 0) break;
    if (received != sizeof note) continue;
    if (note > 0) groups.add(note);
    if (note < 0) groups.remove(-note);
  }
  stop_groups(groups);
  _exit(0);
}

int not_started(int error) {
  harness::write_all(2, fmt::format("warning: the runner watchdog was not started: {}\n", render_os_error(error)));
  return -1;
}

int start_watchdog() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return not_started(errno);
  // No handler of the suite may run in the child before it resets them.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  const pid_t pid = fork();
  if (pid == 0) watch(ends[1]);
  const int fork_error = errno;
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    return not_started(fork_error);
  }
  return ends[0];
}

}  // namespace

int runner_watchdog() {
  static const int channel = start_watchdog();
  return channel;
}

[[gnu::no_sanitize_address]] void announce_runner_group(int channel, pid_t group) { send_note(channel, group); }

[[gnu::no_sanitize_address]] void withdraw_runner_group(int channel, pid_t group) { send_note(channel, -group); }

}  // namespace hardware_e2e
