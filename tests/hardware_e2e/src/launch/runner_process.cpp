#include "launch/runner_process.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/src/run/interrupt.hpp"
#include "launch/runner_timeout.hpp"

namespace hardware_e2e {
namespace {

constexpr std::size_t CHILD_STACK_SIZE = 64 * 1024;
constexpr auto POLL_FALLBACK_INTERVAL = std::chrono::milliseconds(10);

struct ChildStart {
  const char* path;
  char* const* argv;
  char* const* envp;
  pid_t parent;
  InheritedLock inherited;
  RunnerWatchdog* watchdog;  // null when there is none
  int watch_slot;  // written by the child: where it listed its group
  int output;  // the pipe's write end for standard output and error, or -1
  int error;  // written by the child when it cannot exec
};

// The child's own group id into the inherited lock's group field.
[[gnu::no_sanitize_address]] void note_group(const InheritedLock& lock) {
  constexpr std::size_t MOST_DIGITS = 20;
  if (lock.group_width == 0 || lock.group_width > MOST_DIGITS) return;
  char digits[MOST_DIGITS];
  std::size_t count = 0;
  for (auto id = static_cast<unsigned long>(getpid()); count == 0 || id != 0; id /= 10) {
    digits[count++] = static_cast<char>('0' + id % 10);
  }
  if (count > lock.group_width) return;
  char field[MOST_DIGITS];
  for (std::size_t i = 0; i < lock.group_width; ++i) field[i] = i < count ? digits[count - 1 - i] : ' ';
  // Best effort, like the rest of the record: the lock holds without it.
  [[maybe_unused]] const ssize_t written = pwrite(lock.fd, field, lock.group_width, lock.group_offset);
}

// Runs in the child on its own stack while the parent thread waits for the
// exec: it shares the parent's memory, so it calls nothing but system calls.
// All signals arrive blocked; handlers go back to their defaults before the
// mask is cleared, so none of the parent's handlers can run here. The test
// process ignores SIGPIPE, and an ignored disposition would survive exec.
[[gnu::no_sanitize_address]] int child_main(void* argument) {
  auto* start = static_cast<ChildStart*>(argument);
  struct sigaction default_action{};
  default_action.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal != SIGKILL && signal != SIGSTOP) sigaction(signal, &default_action, nullptr);
  }
  if (setpgid(0, 0) != 0 || prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
    start->error = errno;
    _exit(127);
  }
  // The parent died before the death signal was armed: nobody waits for us.
  if (getppid() != start->parent) _exit(127);
  if (start->output >= 0 && (dup2(start->output, 1) < 0 || dup2(start->output, 2) < 0)) {
    start->error = errno;
    _exit(127);
  }
  if (start->inherited.fd >= 0) {
    if (fcntl(start->inherited.fd, F_SETFD, 0) != 0) {
      start->error = errno;
      _exit(127);
    }
    note_group(start->inherited);
    // A record past a file-size limit leaves SIGXFSZ pending, and it would
    // kill the runner once unblocked: ignoring the signal discards it.
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
    sigaction(SIGXFSZ, &default_action, nullptr);
  }
  // Listed before the exec, so that no moment of the runner's life is
  // hidden from the watchdog.
  if (start->watchdog != nullptr) start->watch_slot = start->watchdog->list(getpid());
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(start->path, start->argv, start->envp);
  start->error = errno;
  if (start->watchdog != nullptr) start->watchdog->unlist(start->watch_slot);
  _exit(127);
}

class BlockedSignals {
  // Every signal blocked on this thread for its lifetime.
 public:
  BlockedSignals() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved_);
  }
  ~BlockedSignals() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

 private:
  sigset_t saved_;
};

int milliseconds_until(std::optional<RunnerProcess::Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - RunnerProcess::Clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

std::mutex slot_mutex;
std::atomic<int> slots_taken{0};

}  // namespace

std::expected<RunnerProcess, int> RunnerProcess::spawn(const char* path, char* const* argv, char* const* envp,
                                                       InheritedLock inherited,
                                                       std::optional<OutputPipe> output) {
  RunnerWatchdog* const watchdog = RunnerWatchdog::get();
  void* stack = mmap(nullptr, CHILD_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (stack == MAP_FAILED) return std::unexpected(errno);
  ChildStart start{path, argv, envp, getpid(), inherited, watchdog, RunnerWatchdog::NOT_LISTED,
                   output ? output->write_end() : -1, 0};
  pid_t pid = -1;
  int clone_error = 0;
  {
    BlockedSignals blocked;
    // Like vfork: this thread sleeps until the child has exec'd or exited,
    // and no copy of the address space is made.
    pid = clone(child_main, static_cast<char*>(stack) + CHILD_STACK_SIZE, CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
    clone_error = errno;
  }
  munmap(stack, CHILD_STACK_SIZE);
  // The runner holds its own copy: the pipe ends when its group is gone.
  if (output) output->close_write_end();
  if (pid < 0) return std::unexpected(clone_error);
  if (start.error != 0) {
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
    return std::unexpected(start.error);
  }
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  return RunnerProcess(pid, pidfd, watchdog, start.watch_slot, std::move(output));
}

RunnerProcess::RunnerProcess(RunnerProcess&& other) noexcept
    : pid_(other.pid_),
      pidfd_(other.pidfd_),
      watchdog_(other.watchdog_),
      watch_slot_(other.watch_slot_),
      output_(std::move(other.output_)),
      reaped_(other.reaped_) {
  other.pidfd_ = -1;
  other.reaped_ = true;
}

RunnerProcess::~RunnerProcess() {
  if (!reaped_) {
    signal_group(SIGKILL);
    unlist();
    int ignored = 0;
    while (waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
    }
  }
  if (pidfd_ >= 0) close(pidfd_);
}

std::expected<RunnerProcess::Event, int> RunnerProcess::wait(std::optional<Clock::time_point> deadline,
                                                             bool watch_stop) {
  const int stop_fd = watch_stop ? harness::stop_event_fd() : -1;
  // A runner blocked on a full pipe would never end: read it as it fills.
  while (true) {
    if (pidfd_ < 0) {
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) return std::unexpected(errno);
        continue;
      }
      if (info.si_pid == pid_) return Event::exited;
    }
    if (watch_stop && harness::stop_requested()) return Event::stop_requested;
    int timeout = milliseconds_until(deadline);
    if (deadline && timeout == 0) return Event::deadline;
    if (pidfd_ < 0 && (timeout < 0 || timeout > POLL_FALLBACK_INTERVAL.count())) {
      timeout = static_cast<int>(POLL_FALLBACK_INTERVAL.count());
    }
    const int output_fd = output_ ? output_->read_end() : -1;
    pollfd fds[3] = {{pidfd_, POLLIN, 0}, {stop_fd, POLLIN, 0}, {output_fd, POLLIN, 0}};
    const int ready = poll(fds, 3, timeout);
    if (ready < 0 && errno != EINTR) return std::unexpected(errno);
    if (ready > 0 && fds[2].revents != 0) output_->drain();
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return Event::exited;
  }
}

void RunnerProcess::signal_group(int signal) { kill(-pid_, signal); }

void RunnerProcess::unlist() {
  // While the runner is unreaped its group's id cannot have been reused.
  if (watchdog_ != nullptr) watchdog_->unlist(watch_slot_);
}

std::expected<ExitStatus, int> RunnerProcess::stop() {
  signal_group(SIGTERM);
  if (auto ended = wait(Clock::now() + RUNNER_STOP_GRACE, false); !ended) return std::unexpected(ended.error());
  return reap();
}

std::expected<ExitStatus, int> RunnerProcess::reap() {
  signal_group(SIGKILL);
  unlist();
  int wait_status = 0;
  while (waitpid(pid_, &wait_status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(errno);
  }
  reaped_ = true;
  ExitStatus status;
  status.wait_status = wait_status;
  return status;
}

std::optional<KeptOutput> RunnerProcess::take_output() {
  if (!output_) return std::nullopt;
  KeptOutput kept = std::move(*output_).finish();
  output_.reset();
  return kept;
}

std::optional<RunnerSlot> RunnerSlot::take() {
  std::lock_guard lock(slot_mutex);
  if (harness::stop_requested()) return std::nullopt;
  slots_taken.fetch_add(1);
  return RunnerSlot();
}

RunnerSlot::~RunnerSlot() {
  if (!held_) return;
  slots_taken.fetch_sub(1);
  slots_taken.notify_all();
}

void stop_runners_and_wait() {
  {
    std::lock_guard lock(slot_mutex);
    harness::request_stop();
  }
  for (int taken = slots_taken.load(); taken != 0; taken = slots_taken.load()) slots_taken.wait(taken);
}

}  // namespace hardware_e2e
