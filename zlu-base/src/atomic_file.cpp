#include "atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include <fmt/format.h>

#include "fd.hpp"
#include "os_error.hpp"

namespace zlu_base {
namespace {

namespace fs = std::filesystem;

// As many links as the system follows in one path.
constexpr int MAX_LINK_HOPS = 40;

std::string_view step_name(FileError::Step step) {
  switch (step) {
    case FileError::Step::Resolve: return "resolve";
    case FileError::Step::Refuse: return "write";
    case FileError::Step::Open: return "open";
    case FileError::Step::Create: return "create";
    case FileError::Step::SetMode: return "set the mode of";
    case FileError::Step::Write: return "write";
    case FileError::Step::Flush: return "flush";
    case FileError::Step::Close: return "close";
    case FileError::Step::Rename: return "rename";
  }
  return "write";
}

FileError error_at(FileError::Step step, const fs::path& path, int error_number) {
  return FileError{.step = step, .path = path, .error_number = error_number, .temporary = {}, .reason = {}};
}

// The file a chain of links at `target` ends at; `target` itself when it is no link.
std::expected<fs::path, FileError> follow_links(const fs::path& target) {
  fs::path destination = target;
  for (int hop = 0;; ++hop) {
    struct stat status {};
    if (::lstat(destination.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return destination;
    if (hop == MAX_LINK_HOPS) return std::unexpected(error_at(FileError::Step::Resolve, target, ELOOP));
    std::error_code error;
    const fs::path next = fs::read_symlink(destination, error);
    if (error) return std::unexpected(error_at(FileError::Step::Resolve, target, error.value()));
    destination = next.is_absolute() ? next : destination.parent_path() / next;
  }
}

// Creates a new file beside `destination` that no one else can have opened: a
// name of its own and O_EXCL, so an existing file or link is never reused.
std::expected<std::pair<int, fs::path>, FileError> create_beside(const fs::path& destination) {
  static std::atomic<unsigned> serial{0};
  const fs::path directory = destination.parent_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        directory / fmt::format(".{}.{}-{}.tmp", destination.filename().string(), ::getpid(), serial++);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return std::pair{fd, candidate};
    if (errno != EEXIST) return std::unexpected(error_at(FileError::Step::Create, candidate, errno));
  }
  FileError exhausted = error_at(FileError::Step::Create, destination, EEXIST);
  exhausted.reason = "every name tried exists";
  return std::unexpected(std::move(exhausted));
}

// Opens a device or a FIFO to be written in place. A FIFO without a reader
// either waits in the open or, with `refuse_unread_fifo`, is opened without
// blocking and so fails with ENXIO at once.
std::expected<int, FileError> open_in_place(const fs::path& destination, bool refuse_unread_fifo) {
  int fd;
  do {
    fd = ::open(destination.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (refuse_unread_fifo ? O_NONBLOCK : 0));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    FileError failed = error_at(FileError::Step::Open, destination, error);
    if (refuse_unread_fifo && error == ENXIO) failed.reason = "no process has this FIFO open for reading";
    return std::unexpected(std::move(failed));
  }
  const int flags = refuse_unread_fifo ? ::fcntl(fd, F_GETFL) : 0;
  if (refuse_unread_fifo && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
    const int error = errno;
    ::close(fd);
    return std::unexpected(error_at(FileError::Step::Open, destination, error));
  }
  return fd;
}

}  // namespace

std::string FileError::cause() const { return reason.empty() ? os_error_text(error_number) : reason; }

std::string FileError::describe() const {
  if (step == Step::Rename) return fmt::format("rename {} to {}: {}", temporary.string(), path.string(), cause());
  if (step == Step::Create && !reason.empty()) {
    return fmt::format("create a new file beside {}: {}", path.string(), cause());
  }
  return fmt::format("{} {}: {}", step_name(step), path.string(), cause());
}

std::expected<FileReplacer, FileError> FileReplacer::open(const fs::path& target, const ReplaceOptions& options) {
  fs::path destination = target;
  if (options.link == LinkAtTarget::Follow) {
    auto followed = follow_links(target);
    if (!followed) return std::unexpected(followed.error());
    destination = std::move(*followed);
  }

  struct stat status {};
  const bool exists = ::lstat(destination.c_str(), &status) == 0;
  if (exists && (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode))) {
    // Devices and pipes cannot be replaced, only written.
    const bool refuse_unread_fifo =
        S_ISFIFO(status.st_mode) && options.fifo_without_reader == FifoWithoutReader::Refuse;
    auto fd = open_in_place(destination, refuse_unread_fifo);
    if (!fd) return std::unexpected(fd.error());
    return FileReplacer(*fd, destination, {});
  }
  if (exists && S_ISDIR(status.st_mode)) {
    return std::unexpected(error_at(FileError::Step::Refuse, destination, EISDIR));
  }
  const bool replaces_regular = exists && S_ISREG(status.st_mode);
  const bool replaces_link = exists && S_ISLNK(status.st_mode);
  if (exists && !replaces_regular && !replaces_link) {
    FileError refused = error_at(FileError::Step::Refuse, destination, EINVAL);
    refused.reason = "not a regular file, a device or a pipe";
    return std::unexpected(std::move(refused));
  }
  if (destination.filename().empty()) {
    return std::unexpected(error_at(FileError::Step::Refuse, destination, EISDIR));
  }

  auto created = create_beside(destination);
  if (!created) return std::unexpected(created.error());
  FileReplacer replacer(created->first, destination, created->second);
  // An existing file keeps its mode; a new one gets the asked mode outright.
  std::optional<mode_t> mode = options.new_file_mode;
  if (replaces_regular) mode = status.st_mode & 07777;
  if (mode && ::fchmod(replacer.fd_, *mode) != 0) {
    return std::unexpected(error_at(FileError::Step::SetMode, replacer.temporary_, errno));
  }
  return replacer;
}

FileReplacer::FileReplacer(int fd, fs::path destination, fs::path temporary)
    : fd_(fd), destination_(std::move(destination)), temporary_(std::move(temporary)) {}

FileReplacer::FileReplacer(FileReplacer&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      destination_(std::move(other.destination_)),
      temporary_(std::move(other.temporary_)),
      committed_(std::exchange(other.committed_, true)) {}

FileReplacer::~FileReplacer() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

const fs::path& FileReplacer::written_path() const { return in_place() ? destination_ : temporary_; }

std::expected<void, FileError> FileReplacer::write(std::span<const std::byte> bytes) {
  return write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::expected<void, FileError> FileReplacer::write(std::string_view text) {
  if (const int error = write_all(fd_, text); error != 0) {
    return std::unexpected(error_at(FileError::Step::Write, written_path(), error));
  }
  return {};
}

std::expected<void, FileError> FileReplacer::commit() {
  if (!in_place() && ::fsync(fd_) != 0) return std::unexpected(error_at(FileError::Step::Flush, temporary_, errno));
  const int closed = ::close(std::exchange(fd_, -1));
  // A late write error can surface only at close.
  if (closed != 0 && errno != EINTR) return std::unexpected(error_at(FileError::Step::Close, written_path(), errno));
  if (in_place()) {
    committed_ = true;
    return {};
  }
  if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    FileError failed = error_at(FileError::Step::Rename, destination_, errno);
    failed.temporary = temporary_;
    return std::unexpected(std::move(failed));
  }
  committed_ = true;
  return {};
}

std::expected<void, FileError> replace_file(const fs::path& target, std::span<const std::byte> bytes,
                                            const ReplaceOptions& options) {
  auto replacer = FileReplacer::open(target, options);
  if (!replacer) return std::unexpected(replacer.error());
  if (auto written = replacer->write(bytes); !written) return written;
  return replacer->commit();
}

}  // namespace zlu_base
