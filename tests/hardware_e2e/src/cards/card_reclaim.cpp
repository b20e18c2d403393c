#include "cards/card_reclaim.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "system/stop_grace.hpp"

namespace hardware_e2e {

namespace {

constexpr auto HOLDER_CHECK_INTERVAL = std::chrono::milliseconds(10);

struct FileId {
  dev_t device;
  ino_t inode;
};

std::optional<FileId> file_of(int fd) {
  struct stat info{};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

bool any_holds(const std::vector<ProcessEntry>& members, FileId file) {
  return std::any_of(members.begin(), members.end(),
                     [&](const ProcessEntry& m) { return holds_open(m.pid, file.device, file.inode); });
}

// Whether the group still holds a process that was in it when verified.
bool still_the_group(const LeftBehind& left) {
  const auto now = group_members(left.group);
  return std::any_of(now.begin(), now.end(), [&](const ProcessEntry& member) {
    return std::any_of(left.members.begin(), left.members.end(), [&](const ProcessEntry& seen) {
      return seen.pid == member.pid && seen.start_time == member.start_time;
    });
  });
}

// Waits until `done` or RUNNER_STOP_GRACE has passed.
template <typename Done>
void wait_until(Done done) {
  const auto until = std::chrono::steady_clock::now() + RUNNER_STOP_GRACE;
  while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(HOLDER_CHECK_INTERVAL);
}

}  // namespace

bool holder_has_ended(const Holder& holder) {
  if (holder.start_time.empty()) return false;
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(holder.pid.data(), holder.pid.data() + holder.pid.size(), pid);
  if (error != std::errc{} || end != holder.pid.data() + holder.pid.size() || pid <= 0) return false;
  const auto process = read_process(pid);
  return !process || process->start_time != holder.start_time || process->zombie;
}

bool holder_is_this_process(const Holder& holder) {
  static const std::string own_start_time = process_start_time(::getpid()).value_or("");
  return holder.pid == std::to_string(::getpid()) && (holder.start_time.empty() || holder.start_time == own_start_time);
}

std::optional<LeftBehind> find_left_behind(int lock_fd, const Holder& holder) {
  if (holder.runner_group <= 0 || !holder_has_ended(holder)) return std::nullopt;
  const auto file = file_of(lock_fd);
  if (!file) return std::nullopt;
  // The record only says where to look; the kernel decides.
  const auto lock = flock_keepers(file->device, file->inode);
  if (!lock) return std::nullopt;
  const bool only_the_group = std::all_of(lock->keepers.begin(), lock->keepers.end(), [&](const ProcessEntry& keeper) {
    return keeper.group == holder.runner_group && keeper.pid != lock->taker && keeper.parent != lock->taker;
  });
  if (!only_the_group) return std::nullopt;
  return LeftBehind{holder.runner_group, group_members(holder.runner_group)};
}

void stop_left_behind(int lock_fd, const LeftBehind& left) {
  const auto file = file_of(lock_fd);
  if (!file || !still_the_group(left)) return;
  ::kill(-left.group, SIGTERM);
  wait_until([&] { return !any_holds(group_members(left.group), *file); });
  if (!still_the_group(left)) return;
  ::kill(-left.group, SIGKILL);
  // A process gives up its file locks only on its way to becoming a zombie,
  // after its descriptors are gone from view.
  wait_until([&] {
    const auto members = group_members(left.group);
    return std::all_of(members.begin(), members.end(), [](const ProcessEntry& m) { return m.zombie; });
  });
}

}  // namespace hardware_e2e
