// How a runner ended, and the one judgment of that ending every test makes.
#pragma once

#include <chrono>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

namespace hardware_e2e {

struct ExitStatus {
  // A runner's termination status exactly as the wait reported it: a normal
  // exit with an 8-bit code, or a signal with a flag telling whether a core
  // image was written. Kept raw so that nothing the kernel said is lost.

  int wait_status = 0;
  std::optional<std::chrono::nanoseconds> timed_out_after;
  // The time-out the suite stopped the runner at, if it did.
  bool interrupted = false;
  // The suite stopped the runner because the run was asked to stop.

  bool success() const;
  std::optional<int> code() const;
  // The exit code of a normal exit; none when a signal ended the runner.
  std::optional<int> signal() const;
  // The signal that ended the runner; none after a normal exit.
  bool core_dumped() const;
};

std::optional<std::string_view> signal_name(int signal);
// The Linux x86-64 name of signals 1 to 31 ("SIGSEGV"); none for any other number.

std::string render_exit_status(ExitStatus status);
// "exit status: 1", "signal: 9 (SIGKILL)", "signal: 11 (SIGSEGV) (core dumped)", "signal: 34".

void require_success(std::string_view capability, ExitStatus status,
                     std::source_location location = std::source_location::current());
// Returns when `status` is a normal exit with code 0; otherwise fails the
// current test with: hardware capability "<capability>" failed with <status>,
// the capability quoted with its quotes, backslashes and controls escaped;
// a runner stopped at its time-out fails it with: hardware capability
// "<capability>" timed out after <N> s and ended with <status>.
// The failure is placed at the caller, the test body that judged the runner.

}  // namespace hardware_e2e
