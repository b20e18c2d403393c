// Host-wide card locks: one lock file per card in a lock folder, held with a
// kernel lock on the open file, so that every process on the host honours
// it and none can leave a card locked once it and its runners are gone.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <sys/types.h>

namespace hardware_e2e {

class LockFolder {
  // The folder the card lock files live in, open for the life of the run.
  // Lock files are opened relative to it, never following a link, never
  // truncated, and refused unless they are plain files with one name.

 public:
  static std::expected<LockFolder, std::string> open(const std::string& path, bool shared_default);
  // Opens `path`, creating it when missing (world-writable and sticky when
  // it is the shared default). The error names the folder and why it
  // cannot be used.
  LockFolder(LockFolder&& other) noexcept;
  LockFolder& operator=(LockFolder&&) = delete;
  ~LockFolder();

  const std::string& path() const { return path_; }
  int descriptor() const { return fd_; }
  // The open folder, for files beside the lock files (see quarantine.hpp).
  std::string lock_file_path(unsigned card) const;

  std::expected<int, std::string> open_card(unsigned card) const;
  // A new open file description for the card's lock file (close-on-exec),
  // created when missing; the caller owns the descriptor.

 private:
  LockFolder(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  std::string path_;
  int fd_;
};

bool try_lock_card(int fd);
// Takes the kernel lock on `fd` without waiting; false when another open
// file description holds it.

inline constexpr std::size_t GROUP_FIELD_WIDTH = 10;
// Room for a process group id in the holder record: any pid_t in decimal.

off_t write_holder(int fd);
// Records this process as the holder, written in place over a fixed width
// so no truncation is needed:
//   "<pid> <program>\n<start time> <runner group>\n"
// The first line is what a waiting user is shown. The second tells a holder
// that has ended from a later process with the same id (its start time,
// in clock ticks since boot) and names the process group of the runner it
// started last. The group field is left blank, GROUP_FIELD_WIDTH wide, at
// the offset returned, for the runner to fill in (see RunnerProcess::spawn).

struct Holder {
  std::string pid;
  std::string program;
  std::string start_time;  // empty in a record without a second line
  pid_t runner_group = 0;  // 0 until a runner has been started
};

std::optional<Holder> read_holder(int fd);
// The holder as the last taker wrote it, if any.

}  // namespace hardware_e2e
