#include "launch/runner_command.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <unistd.h>

#include <fmt/format.h>

#include "harness/src/reports/io_error.hpp"
#include "harness/src/lib.hpp"
#include "system/os_error.hpp"
#include "launch/runner_process.hpp"
#include "launch/runner_profile.hpp"
#include "launch/runner_timeout.hpp"
#include "timeline/timeline.hpp"

extern char** environ;

namespace hardware_e2e {

RunnerCommand runner_command(std::string_view name, const DeviceGuard& card) {
  return RunnerCommand{fmt::format("{}/{}", runner_dir(), name), {}, card.held()};
}

namespace {

std::string_view entry_name(std::string_view entry) { return entry.substr(0, entry.find('=')); }

std::string_view program_name(std::string_view path) { return path.substr(path.find_last_of('/') + 1); }

void warn_still_running(std::string_view path, pid_t pid, std::chrono::nanoseconds limit) {
  harness::write_all(2, fmt::format("warning: runner {} (pid {}) has been running for over half of its {} s time-out\n",
                                    program_name(path), pid, render_seconds(limit)));
}

// A pipe for the runner's output when the run captures it, else none: the
// runner inherits the suite's streams.
std::expected<std::optional<OutputPipe>, int> output_pipe() {
  if (!harness::runner_output_captured()) return std::nullopt;
  auto pipe = OutputPipe::open();
  if (!pipe) return std::unexpected(pipe.error());
  return std::optional<OutputPipe>(std::move(*pipe));
}

// Hands what the runner wrote, if anything, to the attempt it ran for.
void attach_output(RunnerProcess& runner, std::string_view path) {
  auto kept = runner.take_output();
  if (!kept || kept->text.empty()) return;
  harness::attach_runner_output({std::string(program_name(path)), std::move(kept->text), kept->cut});
}

// Waits for `runner` to end, stopping it at the time-out or at the run's
// stop request, and warning once it has used half of its time-out.
std::expected<ExitStatus, int> supervise(RunnerProcess& runner, std::string_view path) {
  using Clock = RunnerProcess::Clock;
  const auto limit = runner_timeout();
  const auto started = Clock::now();
  bool warned = false;
  while (true) {
    std::optional<Clock::time_point> deadline;
    if (limit) deadline = started + (warned ? *limit : *limit / 2);
    auto event = runner.wait(deadline, true);
    if (!event) return std::unexpected(event.error());
    if (*event == RunnerProcess::Event::exited) return runner.reap();
    if (*event == RunnerProcess::Event::deadline && !warned) {
      warn_still_running(path, runner.pid(), *limit);
      warned = true;
      continue;
    }
    auto stopped = runner.stop();
    if (stopped && *event == RunnerProcess::Event::deadline) stopped->timed_out_after = limit;
    if (stopped && *event == RunnerProcess::Event::stop_requested) stopped->interrupted = true;
    return stopped;
  }
}

}  // namespace

std::vector<std::string> runner_environment(const char* const* inherited, const std::vector<EnvPair>& additions) {
  std::vector<EnvPair> merged;
  for (const auto& addition : additions) {
    auto same = std::find_if(merged.begin(), merged.end(), [&](const EnvPair& e) { return e.name == addition.name; });
    if (same == merged.end()) {
      merged.push_back(addition);
    } else {
      same->value = addition.value;
    }
  }
  std::vector<std::string> block;
  for (auto entry = inherited; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view name = entry_name(*entry);
    bool replaced = std::any_of(merged.begin(), merged.end(), [&](const EnvPair& e) { return e.name == name; });
    if (!replaced) block.emplace_back(*entry);
  }
  for (auto& pair : merged) block.push_back(pair.name + "=" + pair.value);
  return block;
}

std::expected<ExitStatus, LaunchError> run_to_completion(const RunnerCommand& command) {
  const HeldCard& card = command.card;
  std::vector<EnvPair> additions = command.additions;
  if (card.announce) additions.push_back({zlu_contract::CARD_ID, std::to_string(card.card)});
  // A command that names its own profile (the GEMM test's) reads it itself.
  const bool names_profile = std::ranges::any_of(
      command.additions, [](const EnvPair& pair) { return pair.name == zlu_contract::PROFILE_OUTPUT; });
  std::optional<std::string> profile;
  if (!names_profile) {
    auto path = next_profile_path();
    if (!path) return std::unexpected(LaunchError{path.error()});
    profile = std::move(*path);
  }
  if (profile) additions.push_back({zlu_contract::PROFILE_OUTPUT, *profile});
  std::vector<std::string> environment = runner_environment(environ, additions);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::string program = command.path;
  char* argv[] = {program.data(), nullptr};

  auto slot = RunnerSlot::take();
  if (!slot) return std::unexpected(LaunchError{0, true});
  // The runner keeps the card's host-wide lock for as long as it lives.
  InheritedLock inherited;
  if (card.lock_fd >= 0) inherited = {card.lock_fd, card.group_offset, GROUP_FIELD_WIDTH};
  auto output = output_pipe();
  if (!output) return std::unexpected(LaunchError{output.error()});
  const auto start = std::chrono::steady_clock::now();
  auto runner = RunnerProcess::spawn(program.c_str(), argv, envp.data(), inherited, std::move(*output));
  if (!runner) return std::unexpected(LaunchError{runner.error()});
  auto status = supervise(*runner, command.path);
  attach_output(*runner, command.path);
  if (!status) return std::unexpected(LaunchError{status.error()});
  note_runner(card.card, start, std::chrono::steady_clock::now(), render_exit_status(*status));
  if (profile) collect_profile(*profile, *status);
  return *status;
}

ExitStatus run_or_fail(const RunnerCommand& command, std::string_view launch_text, std::source_location location) {
  auto status = run_to_completion(command);
  if (!status && status.error().stop_requested) {
    harness::fail(fmt::format("{}: not started, the run is stopping", launch_text), location);
  }
  if (!status) harness::fail(fmt::format("{}: {}", launch_text, render_os_error(status.error().error_number)), location);
  if (status->interrupted) {
    harness::fail(fmt::format("{}: interrupted, the runner ended with {}", launch_text, render_exit_status(*status)),
                  location);
  }
  return *status;
}

}  // namespace hardware_e2e
