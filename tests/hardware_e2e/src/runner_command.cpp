#include "runner_command.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "device.hpp"
#include "harness/src/lib.hpp"
#include "os_error.hpp"
#include "timeline.hpp"

extern char** environ;

namespace hardware_e2e {

RunnerCommand runner_command(std::string_view name) {
  return RunnerCommand{fmt::format("{}/{}", runner_dir(), name), {}};
}

namespace {

std::string_view entry_name(std::string_view entry) { return entry.substr(0, entry.find('=')); }

class SpawnAttributes {
  // Every signal reset to its default action in the child and nothing
  // blocked: the test process ignores SIGPIPE, and an ignored disposition or
  // a blocked signal would otherwise survive exec into the runner.

 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t defaults;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attributes_, &empty);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

class SpawnFileActions {
  // What the child does with descriptors before exec; none by default.

 public:
  SpawnFileActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

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
  const std::optional<HeldCard> card = held_card();
  std::vector<EnvPair> additions = command.additions;
  if (card && card->announce) additions.push_back({"ZLU_CARD_ID", std::to_string(card->card)});
  std::vector<std::string> environment = runner_environment(environ, additions);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::string program = command.path;
  char* argv[] = {program.data(), nullptr};

  SpawnAttributes attributes;
  // The runner keeps the card's host-wide lock for as long as it lives:
  // duplicating the descriptor onto itself clears close-on-exec in the child only.
  SpawnFileActions actions;
  if (card && card->lock_fd >= 0) posix_spawn_file_actions_adddup2(actions.get(), card->lock_fd, card->lock_fd);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (int error = posix_spawn(&child, program.c_str(), actions.get(), attributes.get(), argv, envp.data()); error != 0) {
    return std::unexpected(LaunchError{error});
  }
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(LaunchError{errno});
  }
  if (card) note_runner(card->card, start, std::chrono::steady_clock::now(), render_exit_status(ExitStatus{wait_status}));
  return ExitStatus{wait_status};
}

ExitStatus run_or_fail(const RunnerCommand& command, std::string_view launch_text, std::source_location location) {
  auto status = run_to_completion(command);
  if (!status) harness::fail(fmt::format("{}: {}", launch_text, render_os_error(status.error().error_number)), location);
  return *status;
}

}  // namespace hardware_e2e
