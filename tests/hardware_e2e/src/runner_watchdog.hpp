// The suite's watchdog: a process that outlives the suite just long enough
// to stop what its runners started, however the suite ends.
#pragma once

#include <sys/types.h>

namespace hardware_e2e {

inline constexpr char WATCHDOG_NAME[] = "e2e-watchdog";
// The name the watchdog shows in process lists.

int runner_watchdog();
// The suite's end of the channel to its watchdog, which is started on the
// first call and never again; -1 when it could not be started (said once on
// standard error; runners then still die with the suite, but not what they
// started).
//
// The watchdog is a child of the suite in a session of its own, so that
// signals to the suite's process group or terminal do not reach it; it
// keeps no descriptor but its end of the channel (no card lock among them)
// and ignores SIGINT, SIGTERM, SIGHUP and SIGQUIT. It keeps the list of
// runner groups announced and not yet withdrawn. When the suite's end
// closes, which happens when the suite ends however it ends, it sends those
// groups SIGTERM, SIGKILL to the ones still there RUNNER_STOP_GRACE later,
// and exits.

void announce_runner_group(int channel, pid_t group);
// Adds `group` to the watchdog's list. Only system calls: safe in a child
// that shares the suite's memory before it execs. Does nothing when
// `channel` is -1 or the watchdog has gone.

void withdraw_runner_group(int channel, pid_t group);
// Takes `group` off the list. Call while the group's leader is not yet
// reaped, so that its id cannot have been reused.

}  // namespace hardware_e2e
