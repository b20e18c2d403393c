#include "cards/card_lock.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "system/os_error.hpp"
#include "cards/process_table.hpp"

namespace hardware_e2e {

namespace {

// Width of the holder record; shorter records are padded with blanks so an
// older, longer one never shows through.
constexpr std::size_t HOLDER_WIDTH = 256;

std::string folder_error(const std::string& path, std::string_view why) {
  return fmt::format("card lock folder \"{}\" (ZLU_TEST_LOCK_DIR) cannot be used: {}", path, why);
}

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::expected<LockFolder, std::string> LockFolder::open(const std::string& path, bool shared_default) {
  if (::mkdir(path.c_str(), shared_default ? 01777 : 0777) == 0) {
    // The umask must not keep other users out of the shared default.
    if (shared_default) ::chmod(path.c_str(), 01777);
  } else if (errno != EEXIST) {
    return std::unexpected(folder_error(path, render_os_error(errno)));
  }
  // Anyone may plant a link at the shared default; a folder of one's own choosing may be one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (shared_default ? O_NOFOLLOW : 0));
  if (fd < 0) {
    if (errno == ENOTDIR) return std::unexpected(folder_error(path, "not a folder"));
    if (errno == ELOOP) return std::unexpected(folder_error(path, "a link stands there"));
    return std::unexpected(folder_error(path, render_os_error(errno)));
  }
  LockFolder folder(path, fd);
  // Root passes this check whatever the modes say; opening every card's lock
  // file at start-up (see CardPool) is the test that holds for it too.
  if (::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0) return std::unexpected(folder_error(path, render_os_error(errno)));
  return folder;
}

LockFolder::LockFolder(LockFolder&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) { other.fd_ = -1; }

LockFolder::~LockFolder() {
  if (fd_ >= 0) ::close(fd_);
}

std::string LockFolder::lock_file_path(unsigned card) const { return fmt::format("{}/card-{}.lock", path_, card); }

std::expected<int, std::string> LockFolder::open_card(unsigned card) const {
  const std::string name = fmt::format("card-{}.lock", card);
  int fd = -1;
  do {
    fd = ::openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const std::string why = errno == ELOOP ? "a link stands at the lock file" : render_os_error(errno);
    return std::unexpected(fmt::format("card {} lock file \"{}\" (ZLU_TEST_LOCK_DIR) cannot be used: {}", card,
                                       lock_file_path(card), why));
  }
  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    ::close(fd);
    return std::unexpected(fmt::format("card {} lock file \"{}\" (ZLU_TEST_LOCK_DIR) cannot be used: {}", card,
                                       lock_file_path(card), "not a plain file with a single name"));
  }
  // Let other users of the host take the lock file this process created.
  if (info.st_uid == ::geteuid() && (info.st_mode & 0666) != 0666) ::fchmod(fd, 0666);
  return fd;
}

bool try_lock_card(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

off_t write_holder(int fd) {
  static const std::string start_time = process_start_time(::getpid()).value_or("");
  const std::string identity = start_time + " ";
  const std::string group_line = identity + std::string(GROUP_FIELD_WIDTH, ' ') + "\n";
  std::string record = fmt::format("{} {}", ::getpid(), program_invocation_name);
  // A long program name gives way, so that the second line always fits.
  record.resize(std::min(record.size(), HOLDER_WIDTH - group_line.size() - 1));
  record += '\n';
  const auto group_offset = static_cast<off_t>(record.size() + identity.size());
  record += group_line;
  record.resize(HOLDER_WIDTH, ' ');
  // Best effort: the lock holds without the record, which only helps waiters.
  [[maybe_unused]] const ssize_t written = ::pwrite(fd, record.data(), record.size(), 0);
  return group_offset;
}

std::optional<Holder> read_holder(int fd) {
  char buffer[HOLDER_WIDTH];
  const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
  if (got <= 0) return std::nullopt;
  std::string_view text(buffer, static_cast<std::size_t>(got));
  const auto line_end = text.find('\n');
  const std::string_view first = text.substr(0, line_end);
  const auto space = first.find(' ');
  if (space == std::string_view::npos || space == 0) return std::nullopt;
  Holder holder{std::string(first.substr(0, space)), std::string(first.substr(space + 1)), {}, 0};
  if (line_end == std::string_view::npos) return holder;
  // "<start time> <runner group>", the group possibly blank; anything else
  // is a record of an older kind and names no group.
  std::string_view second = text.substr(line_end + 1);
  second = second.substr(0, second.find('\n'));
  const auto gap = second.find(' ');
  if (gap == std::string_view::npos || !all_digits(second.substr(0, gap))) return holder;
  std::string_view group = second.substr(gap + 1);
  group = group.substr(0, group.find(' '));
  holder.start_time = std::string(second.substr(0, gap));
  if (all_digits(group) && group.size() <= GROUP_FIELD_WIDTH) {
    const long id = std::stol(std::string(group));
    if (id <= std::numeric_limits<pid_t>::max()) holder.runner_group = static_cast<pid_t>(id);
  }
  return holder;
}

}  // namespace hardware_e2e
