#include "cards/process_table.hpp"

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace hardware_e2e {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using OpenDir = std::unique_ptr<DIR, DirCloser>;

std::optional<pid_t> as_pid(std::string_view text) {
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
  if (error != std::errc{} || end != text.data() + text.size() || pid <= 0) return std::nullopt;
  return pid;
}

std::optional<std::string> read_small_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  ssize_t got = 0;
  do {
    got = ::read(fd, buffer, sizeof buffer);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  if (got <= 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(got));
}

// Calls `visit` with the id of every process of the host.
template <typename Visit>
void for_each_process(Visit visit) {
  const OpenDir proc(::opendir("/proc"));
  if (!proc) return;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (const auto pid = as_pid(entry->d_name)) visit(*pid);
  }
}

// Calls `visit` with the name (its number) of every descriptor of the
// process that refers to the file.
template <typename Visit>
void for_each_descriptor_on(pid_t pid, dev_t device, ino_t inode, Visit visit) {
  const std::string folder = fmt::format("/proc/{}/fd", pid);
  const OpenDir fds(::opendir(folder.c_str()));
  if (!fds) return;
  while (const dirent* entry = ::readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    struct stat target{};
    if (::fstatat(::dirfd(fds.get()), entry->d_name, &target, 0) == 0 && target.st_dev == device &&
        target.st_ino == inode) {
      visit(std::string_view(entry->d_name));
    }
  }
}

enum class FlockKind { none, exclusive, shared };

// The whole-file lock the kernel lists for one descriptor, from lines such as
// "lock:\t1: FLOCK  ADVISORY  WRITE 4711 fe:00:1234 0 EOF"; other kinds of
// lock (record locks) are no flock and are passed over.
FlockKind flock_of_descriptor(std::string_view info, pid_t& taker) {
  FlockKind kind = FlockKind::none;
  constexpr std::string_view LOCK_LINE = "lock:\t";
  for (std::size_t at = 0; at < info.size();) {
    const auto end = std::min(info.find('\n', at), info.size());
    std::string_view line = info.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(LOCK_LINE)) continue;
    std::vector<std::string_view> words;
    for (line.remove_prefix(LOCK_LINE.size()); !line.empty();) {
      const auto begin = line.find_first_not_of(' ');
      if (begin == std::string_view::npos) break;
      line.remove_prefix(begin);
      const auto word_end = std::min(line.find(' '), line.size());
      words.push_back(line.substr(0, word_end));
      line.remove_prefix(word_end);
    }
    if (words.size() < 5 || words[1] != "FLOCK") continue;
    if (words[3] != "WRITE") return FlockKind::shared;
    kind = FlockKind::exclusive;
    taker = as_pid(words[4]).value_or(0);
  }
  return kind;
}

}  // namespace

std::optional<ProcessEntry> read_process(pid_t pid) {
  const auto stat = read_small_file(fmt::format("/proc/{}/stat", pid));
  if (!stat) return std::nullopt;
  // "<pid> (<command>) <state> <ppid> <pgrp> ..." where the command may hold
  // blanks and parentheses; the fields after the last ')' are plain. The
  // state is the first of them, the parent the second, the group the third,
  // the start time the twentieth.
  const auto close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::vector<std::string_view> fields;
  std::string_view rest = std::string_view(*stat).substr(close + 1);
  while (fields.size() < 20) {
    const auto begin = rest.find_first_not_of(' ');
    if (begin == std::string_view::npos) return std::nullopt;
    rest = rest.substr(begin);
    const auto end = rest.find(' ');
    fields.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest = rest.substr(end);
  }
  if (fields.size() < 20) return std::nullopt;
  const auto group = as_pid(fields[2]);
  if (!group) return std::nullopt;
  // Processes started by the kernel show a parent of 0.
  return ProcessEntry{pid, *group, std::string(fields[19]), fields[0] == "Z", as_pid(fields[1]).value_or(0)};
}

std::optional<std::string> process_start_time(pid_t pid) {
  auto entry = read_process(pid);
  if (!entry) return std::nullopt;
  return std::move(entry->start_time);
}

std::vector<ProcessEntry> group_members(pid_t group) {
  std::vector<ProcessEntry> members;
  for_each_process([&](pid_t pid) {
    if (auto process = read_process(pid); process && process->group == group) members.push_back(*process);
  });
  return members;
}

bool holds_open(pid_t pid, dev_t device, ino_t inode) {
  bool found = false;
  for_each_descriptor_on(pid, device, inode, [&](std::string_view) { found = true; });
  return found;
}

std::optional<FileLockKeepers> flock_keepers(dev_t device, ino_t inode) {
  FileLockKeepers found;
  bool shared = false;
  for_each_process([&](pid_t pid) {
    bool keeps = false;
    for_each_descriptor_on(pid, device, inode, [&](std::string_view fd) {
      const auto info = read_small_file(fmt::format("/proc/{}/fdinfo/{}", pid, fd));
      if (!info) return;
      switch (flock_of_descriptor(*info, found.taker)) {
        case FlockKind::exclusive: keeps = true; break;
        case FlockKind::shared: shared = true; break;
        case FlockKind::none: break;
      }
    });
    if (!keeps) return;
    if (auto process = read_process(pid)) found.keepers.push_back(std::move(*process));
  });
  if (shared || found.keepers.empty()) return std::nullopt;
  return found;
}

}  // namespace hardware_e2e
