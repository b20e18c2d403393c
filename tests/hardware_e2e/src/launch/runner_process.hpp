// A started runner as the suite holds it: its own process group, killed with
// the suite, and waited for as an event that combines with a deadline and
// with the run's stop request.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <optional>
#include <sys/types.h>

#include "launch/exit_status.hpp"
#include "launch/output_pipe.hpp"
#include "launch/runner_watchdog.hpp"

namespace hardware_e2e {

struct InheritedLock {
  // A descriptor the runner keeps open, and a field of its file where the
  // runner writes its process group id before it execs: in decimal, padded
  // with blanks to `group_width` (no write when that is 0). Whoever finds
  // the file still locked after the suite has gone can tell which group
  // holds it, with no moment between exec and the write.

  int fd = -1;
  off_t group_offset = 0;
  std::size_t group_width = 0;
};

class RunnerProcess {
  // Owns a started, not yet reaped runner. The runner leads a process group
  // of its own, so that everything it starts can be signalled with it, and
  // the kernel kills it (SIGKILL) when the thread that started it ends, so
  // that it never outlives a suite that died; its group is on the list of
  // the suite's watchdog (runner_watchdog.hpp) from before its exec until
  // it is reaped, so that what the runner started does not outlive a suite
  // that died either. Until reaped, its process id and so its group id
  // cannot be reused, which makes signalling the group safe. The destructor
  // kills the group and reaps the runner if nobody did.

 public:
  using Clock = std::chrono::steady_clock;

  static std::expected<RunnerProcess, int> spawn(const char* path, char* const* argv, char* const* envp,
                                                 InheritedLock inherited = {},
                                                 std::optional<OutputPipe> output = std::nullopt);
  // Starts `path` with the inherited standard streams and working directory,
  // every signal at its default action and none blocked; `inherited.fd`, when
  // not -1, stays open in the runner. With `output`, the runner's standard
  // output and error both go to that pipe instead, which the waits below
  // read as it fills. The error is the errno of the failed start (ENOENT,
  // EACCES, ...).

  RunnerProcess(RunnerProcess&& other) noexcept;
  RunnerProcess& operator=(RunnerProcess&&) = delete;
  RunnerProcess(const RunnerProcess&) = delete;
  ~RunnerProcess();

  enum class Event { exited, deadline, stop_requested };

  std::expected<Event, int> wait(std::optional<Clock::time_point> deadline, bool watch_stop);
  // Waits until the runner exits, `deadline` passes (none: no deadline) or,
  // when `watch_stop` is set, the run is asked to stop; the runner is left
  // unreaped. The error is the errno of a failed wait.
  // Meanwhile it reads whatever the runner writes to its output pipe.

  void signal_group(int signal);
  // Sends `signal` to the runner and every process still in its group.

  std::expected<ExitStatus, int> stop();
  // Asks the group to stop (SIGTERM), kills it (SIGKILL) once the runner has
  // ended or after RUNNER_STOP_GRACE, and reaps the runner.

  std::expected<ExitStatus, int> reap();
  // Kills whatever the runner left running in its group and collects the
  // runner's status. Call once the runner has exited.

  std::optional<KeptOutput> take_output();
  // What is kept of the runner's output when it went to a pipe: call once
  // the runner is reaped, so that all its group wrote is there.

  pid_t pid() const { return pid_; }

 private:
  RunnerProcess(pid_t pid, int pidfd, RunnerWatchdog* watchdog, int watch_slot, std::optional<OutputPipe> output)
      : pid_(pid), pidfd_(pidfd), watchdog_(watchdog), watch_slot_(watch_slot), output_(std::move(output)) {}
  void unlist();
  // Takes the group off the watchdog's list; before the runner is reaped.

  pid_t pid_;
  int pidfd_;  // -1 when the kernel gave none: waits poll the process instead
  RunnerWatchdog* watchdog_;  // null when there is none
  int watch_slot_;  // where the runner listed its group
  std::optional<OutputPipe> output_;
  bool reaped_ = false;
};

class [[nodiscard]] RunnerSlot {
  // Leave to start one runner, refused once the run is asked to stop, so
  // that no runner starts after that. The suite's exit waits until every
  // slot taken is given back.

 public:
  static std::optional<RunnerSlot> take();
  // None once a stop is requested.

  RunnerSlot(RunnerSlot&& other) noexcept : held_(other.held_) { other.held_ = false; }
  RunnerSlot& operator=(RunnerSlot&&) = delete;
  ~RunnerSlot();

 private:
  RunnerSlot() = default;
  bool held_ = true;
};

void stop_runners_and_wait();
// Asks the run to stop and waits until every runner started has been
// stopped and reaped: tests that have not started theirs never will.

}  // namespace hardware_e2e
