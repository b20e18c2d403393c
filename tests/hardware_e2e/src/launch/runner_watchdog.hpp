// The suite's watchdog: a process that outlives the suite just long enough
// to stop what its runners started, however the suite ends.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace hardware_e2e {

inline constexpr char WATCHDOG_NAME[] = "e2e-watchdog";
// The name the watchdog shows in process lists.

class RunnerWatchdog {
  // The suite's list of runner groups, shared with a watchdog process that
  // reads it only once the suite has ended. The watchdog is a child of the
  // suite in a session of its own, so that signals to the suite's process
  // group or terminal do not reach it; it keeps no descriptor but the read
  // end of a pipe whose write end only the suite holds (no card lock among
  // them) and ignores SIGINT, SIGTERM, SIGHUP and SIGQUIT. When the pipe
  // reaches its end, which happens when the suite ends however it ends, it
  // sends the groups still listed SIGTERM, SIGKILL to the ones still there
  // RUNNER_STOP_GRACE later, and exits.
  //
  // Listing and unlisting a group are plain atomic stores to memory shared
  // with the watchdog: no system call, nothing that wakes it, so a launch
  // costs what it did without it.

 public:
  static RunnerWatchdog* get();
  // The suite's watchdog, started on the first call and never again; null
  // when it could not be started (said once on standard error: runners then
  // still die with the suite, but not what they started).

  static constexpr std::size_t SLOTS = 65536;
  // How many groups the list holds at once: one per runner running, so at
  // most one per worker thread. A runner started while it is full is not
  // listed.

  static constexpr int NOT_LISTED = -1;

  int list(pid_t group);
  // Lists `group` and returns its slot, or NOT_LISTED when the list is
  // full. Only atomic stores: safe in a child that shares the suite's
  // memory before it execs.

  void unlist(int slot);
  // Takes the group in `slot` off the list (nothing for NOT_LISTED). Call
  // while the group's leader is not yet reaped, so that its id cannot have
  // been reused.

 private:
  explicit RunnerWatchdog(pid_t* slots) : slots_(slots) {}
  pid_t* slots_;  // SLOTS entries, 0 where free, mapped shared with the watchdog
};

}  // namespace hardware_e2e
