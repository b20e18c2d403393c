// Host-wide card locks: one lock file per card in a lock folder, held with a
// kernel lock on the open file, so that every process on the host honours
// it and none can leave a card locked once it and its runners are gone.
#pragma once

#include <expected>
#include <optional>
#include <string>

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

void write_holder(int fd);
// Records this process as the holder: "<pid> <program>\n", written in place
// over a fixed width so no truncation is needed.

struct Holder {
  std::string pid;
  std::string program;
};

std::optional<Holder> read_holder(int fd);
// The holder as the last taker wrote it, if any.

}  // namespace hardware_e2e
