// What the suite reads of the host's process table: which group a process
// is in, when it started, and whether it holds a given file open. Only
// reads; a process that cannot be read (gone, or another user's) is simply
// not seen.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace hardware_e2e {

struct ProcessEntry {
  pid_t pid;
  pid_t group;
  std::string start_time;  // clock ticks since boot: with the pid, names one process for ever
  bool zombie;  // ended, not yet reaped: it holds no descriptors any more
};

std::optional<ProcessEntry> read_process(pid_t pid);
// None when there is no such process.

std::optional<std::string> process_start_time(pid_t pid);

std::vector<ProcessEntry> group_members(pid_t group);
// Every process of the host whose process group is `group`, zombies included.

bool holds_open(pid_t pid, dev_t device, ino_t inode);
// Whether one of the process's open descriptors refers to the file.

}  // namespace hardware_e2e
