#include "load.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include <fmt/format.h>
#include <kj/io.h>

#include "zlu-base/src/os_error.hpp"

namespace zlu_profile {
namespace {

// The profile file open for reading, refused when it is a directory or not a
// regular file (a FIFO would block, a device could be endless). The open
// itself does not wait: without O_NONBLOCK it blocks on a FIFO until someone
// opens the other end, before its type could be looked at.
std::expected<kj::AutoCloseFd, std::string> open_regular_file(const std::filesystem::path& path) {
  kj::AutoCloseFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    return std::unexpected(zlu_base::os_error_text(errno));
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return std::unexpected(zlu_base::os_error_text(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    return std::unexpected(zlu_base::os_error_text(EISDIR));
  }
  if (!S_ISREG(status.st_mode)) {
    return std::unexpected("not a regular file");
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return std::unexpected(zlu_base::os_error_text(errno));
  }
  return fd;
}

std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  return text;
}

}  // namespace

std::expected<LoadedProfile, std::string> load_profile(const std::filesystem::path& path) {
  std::expected<kj::AutoCloseFd, std::string> fd = open_regular_file(path);
  if (!fd) {
    return std::unexpected(fmt::format("{}: {}", path.string(), fd.error()));
  }
  auto read = zlu_package::ProfileReport::read_versioned(kj::heap<kj::FdInputStream>(kj::mv(*fd)));
  if (!read) {
    return std::unexpected(fmt::format("{}: {}", path.string(), one_line(read.error().debug())));
  }
  return LoadedProfile{.report = std::move(read->report), .format_version = read->schema_version};
}

}  // namespace zlu_profile
