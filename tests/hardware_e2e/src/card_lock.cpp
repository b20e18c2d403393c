#include "card_lock.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "os_error.hpp"

namespace hardware_e2e {

namespace {

// Width of the holder record; shorter records are padded with blanks so an
// older, longer one never shows through.
constexpr std::size_t HOLDER_WIDTH = 256;

std::string folder_error(const std::string& path, std::string_view why) {
  return fmt::format("card lock folder \"{}\" (ZLU_TEST_LOCK_DIR) cannot be used: {}", path, why);
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

void write_holder(int fd) {
  std::string record = fmt::format("{} {}\n", ::getpid(), program_invocation_name);
  if (record.size() > HOLDER_WIDTH) record.resize(HOLDER_WIDTH);
  record.resize(HOLDER_WIDTH, ' ');
  // Best effort: the holder record only helps a waiting user; the lock holds without it.
  [[maybe_unused]] const ssize_t written = ::pwrite(fd, record.data(), record.size(), 0);
}

std::optional<Holder> read_holder(int fd) {
  char buffer[HOLDER_WIDTH];
  const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
  if (got <= 0) return std::nullopt;
  std::string_view text(buffer, static_cast<std::size_t>(got));
  text = text.substr(0, text.find('\n'));
  const auto space = text.find(' ');
  if (space == std::string_view::npos || space == 0) return std::nullopt;
  return Holder{std::string(text.substr(0, space)), std::string(text.substr(space + 1))};
}

}  // namespace hardware_e2e
