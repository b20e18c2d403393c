#include "process_table.hpp"

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

}  // namespace

std::optional<ProcessEntry> read_process(pid_t pid) {
  const auto stat = read_small_file(fmt::format("/proc/{}/stat", pid));
  if (!stat) return std::nullopt;
  // "<pid> (<command>) <state> <ppid> <pgrp> ..." where the command may hold
  // blanks and parentheses; the fields after the last ')' are plain. The
  // state is the first of them, the group the third, the start time the
  // twentieth.
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
  return ProcessEntry{pid, *group, std::string(fields[19]), fields[0] == "Z"};
}

std::optional<std::string> process_start_time(pid_t pid) {
  auto entry = read_process(pid);
  if (!entry) return std::nullopt;
  return std::move(entry->start_time);
}

std::vector<ProcessEntry> group_members(pid_t group) {
  std::vector<ProcessEntry> members;
  const OpenDir proc(::opendir("/proc"));
  if (!proc) return members;
  while (const dirent* entry = ::readdir(proc.get())) {
    const auto pid = as_pid(entry->d_name);
    if (!pid) continue;
    if (auto process = read_process(*pid); process && process->group == group) members.push_back(*process);
  }
  return members;
}

bool holds_open(pid_t pid, dev_t device, ino_t inode) {
  const std::string folder = fmt::format("/proc/{}/fd", pid);
  const OpenDir fds(::opendir(folder.c_str()));
  if (!fds) return false;
  while (const dirent* entry = ::readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    struct stat target{};
    if (::fstatat(::dirfd(fds.get()), entry->d_name, &target, 0) == 0 && target.st_dev == device &&
        target.st_ino == inode) {
      return true;
    }
  }
  return false;
}

}  // namespace hardware_e2e
