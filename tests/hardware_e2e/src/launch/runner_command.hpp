// Building and running a runner command: absolute path, environment
// additions, no arguments.
#pragma once

#include <expected>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cards/device.hpp"
#include "launch/exit_status.hpp"
#include "runners/common/contract.hpp"

namespace hardware_e2e {

std::string_view runner_dir();
// The folder the runners were fixed to when this executable was built.

// The five runners of the stack.
inline constexpr std::string_view GRAPH_RUNNER = zlu_contract::GRAPH_RUNNER;
inline constexpr std::string_view HOST_RUNNER = zlu_contract::HOST_RUNNER;
inline constexpr std::string_view RANDOMIZED_RUNNER = zlu_contract::RANDOMIZED_RUNNER;
inline constexpr std::string_view GEMM_RUNNER = zlu_contract::GEMM_RUNNER;
inline constexpr std::string_view ATTENTION_RUNNER = zlu_contract::ATTENTION_RUNNER;

struct EnvPair {
  // One environment variable for a runner. Values are bytes, not text: the
  // jitter settings are forwarded unchanged whatever they hold.

  std::string name;
  std::string value;
};

struct RunnerCommand {
  // A runner to start: its absolute path, the variables to add, in the
  // order added, on top of the inherited environment, and the card it runs
  // on. It takes no arguments.

  std::string path;
  std::vector<EnvPair> additions;
  HeldCard card;

  void add_env(std::string name, std::string value) {
    additions.push_back({std::move(name), std::move(value)});
  }
};

RunnerCommand runner_command(std::string_view name, const DeviceGuard& card);
// The command for runner `name` on the card `card` holds: runner_dir() +
// "/" + name, no additions. The guard must outlive the runner's launch.

struct LaunchError {
  // Why a runner could not be started or waited for.

  int error_number = 0;
  bool stop_requested = false;  // not started: the run was asked to stop
};

std::vector<std::string> runner_environment(const char* const* inherited, const std::vector<EnvPair>& additions);
// The environment block a runner receives: every entry of `inherited` whose
// name no addition carries, then the additions in order; when an addition
// names a variable twice, the later value wins and the first position stays.

std::expected<ExitStatus, LaunchError> run_to_completion(const RunnerCommand& command);
// Starts the runner with the inherited standard streams and working
// directory, on its card (told in ZLU_CARD_ID, after the additions, when
// the pool announces cards; keeping the card's host-wide lock while it
// lives), the signal dispositions and mask reset to their defaults, and
// waits for it to terminate. When the run wants cycle summaries and the
// command names no profile path of its own, the runner is given one after
// the additions (ZLU_PROFILE_OUTPUT) and its profile's summary is added to
// the current attempt (see runner_profile.hpp). When the run captures runner output, its
// standard output and error go to a pipe instead, and what is kept of them
// (see output_pipe.hpp) is attached to the current attempt. It waits
// without a time limit unless runner_timeout() sets one, at which the runner
// and its group are stopped (see RunnerProcess::stop); with a time-out set,
// a line on standard error tells when the runner has used half of it. A stop
// request to the run stops the runner the same way, and once one is made no
// runner starts. Whatever the runner left running in its group is killed
// when it ends.

ExitStatus run_or_fail(const RunnerCommand& command, std::string_view launch_text,
                       std::source_location location = std::source_location::current());
// Runs `command` and returns its exit status; fails the current test with
// "<launch_text>: <os error>" if it cannot be started or waited for, and
// says so when the run's stop request kept it from starting or stopped it.

}  // namespace hardware_e2e
