#include "launch/exit_status.hpp"

#include <array>
#include <sys/wait.h>

#include <fmt/format.h>
#include "harness/src/lib.hpp"
#include "launch/runner_timeout.hpp"
#include "runners/common/contract.hpp"
#include "zlu-package/src/error.hpp"

namespace hardware_e2e {

bool ExitStatus::success() const { return code() == static_cast<int>(zlu_contract::ExitCode::Ok); }

std::optional<int> ExitStatus::code() const {
  if (!WIFEXITED(wait_status)) return std::nullopt;
  return WEXITSTATUS(wait_status);
}

std::optional<int> ExitStatus::signal() const {
  if (!WIFSIGNALED(wait_status)) return std::nullopt;
  return WTERMSIG(wait_status);
}

bool ExitStatus::core_dumped() const { return WIFSIGNALED(wait_status) && WCOREDUMP(wait_status); }

std::optional<std::string_view> signal_name(int signal) {
  static constexpr std::array<std::string_view, 31> names = {
      "SIGHUP",  "SIGINT",    "SIGQUIT", "SIGILL",    "SIGTRAP", "SIGABRT", "SIGBUS",  "SIGFPE",
      "SIGKILL", "SIGUSR1",   "SIGSEGV", "SIGUSR2",   "SIGPIPE", "SIGALRM", "SIGTERM", "SIGSTKFLT",
      "SIGCHLD", "SIGCONT",   "SIGSTOP", "SIGTSTP",   "SIGTTIN", "SIGTTOU", "SIGURG",  "SIGXCPU",
      "SIGXFSZ", "SIGVTALRM", "SIGPROF", "SIGWINCH",  "SIGIO",   "SIGPWR",  "SIGSYS"};
  if (signal < 1 || signal > static_cast<int>(names.size())) return std::nullopt;
  return names[static_cast<std::size_t>(signal - 1)];
}

std::string render_exit_status(ExitStatus status) {
  if (auto code = status.code()) return fmt::format("exit status: {}", *code);
  // A stopped or continued child is never reported by a plain wait; render
  // the raw value rather than invent a meaning for it.
  auto signal = status.signal();
  if (!signal) return fmt::format("unrecognised wait status: {:#x}", status.wait_status);
  std::string text = fmt::format("signal: {}", *signal);
  if (auto name = signal_name(*signal)) text += fmt::format(" ({})", *name);
  if (status.core_dumped()) text += " (core dumped)";
  return text;
}

void require_success(std::string_view capability, ExitStatus status, std::source_location location) {
  if (status.timed_out_after) {
    harness::fail(fmt::format("hardware capability {} timed out after {} s and ended with {}",
                              zlu_package::debug_quoted(capability), render_seconds(*status.timed_out_after),
                              render_exit_status(status)),
                  location);
  }
  if (status.success()) return;
  harness::fail(fmt::format("hardware capability {} failed with {}", zlu_package::debug_quoted(capability),
                            render_exit_status(status)),
                location);
}

}  // namespace hardware_e2e
