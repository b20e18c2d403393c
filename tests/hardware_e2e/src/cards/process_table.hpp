// What the suite reads of the host's process table: which group a process
// is in, who its parent is, when it started, whether it holds a given file
// open and who keeps a file's lock. Only reads; a process that cannot be
// read (gone, or another user's) is simply not seen.
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
  pid_t parent = 0;  // who reaps it: its starter, or whoever adopted it when that ended
};

std::optional<ProcessEntry> read_process(pid_t pid);
// None when there is no such process.

std::optional<std::string> process_start_time(pid_t pid);

std::vector<ProcessEntry> group_members(pid_t group);
// Every process of the host whose process group is `group`, zombies included.

bool holds_open(pid_t pid, dev_t device, ino_t inode);
// Whether one of the process's open descriptors refers to the file.

struct FileLockKeepers {
  // Who keeps a file's exclusive whole-file lock (flock), as the kernel
  // tells it: the lock belongs to one open file description, and stays
  // taken while any descriptor on that description is open.

  pid_t taker = 0;  // the process that took the lock; 0 when the kernel no longer names it
  std::vector<ProcessEntry> keepers;  // every process with a descriptor on that description
};

std::optional<FileLockKeepers> flock_keepers(dev_t device, ino_t inode);
// The keepers of the file's exclusive flock, found by the lock the kernel
// lists under each descriptor (/proc/<pid>/fdinfo). None when no process
// seen keeps one, or the file has shared flocks, which no suite takes.

}  // namespace hardware_e2e
