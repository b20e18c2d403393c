#include "load.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fmt/format.h>
#include <kj/io.h>

#include "zlu-base/src/os_error.hpp"

namespace zlu_profile {
namespace {

// The profile file open for reading, refused when it is a directory or not a
// regular file (a FIFO would block, a device could be endless).
std::expected<kj::AutoCloseFd, int> open_regular_file(const std::filesystem::path& path) {
  kj::AutoCloseFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    return std::unexpected(errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return std::unexpected(errno);
  }
  if (S_ISDIR(status.st_mode)) {
    return std::unexpected(EISDIR);
  }
  if (!S_ISREG(status.st_mode)) {
    return std::unexpected(EINVAL);
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
  std::expected<kj::AutoCloseFd, int> fd = open_regular_file(path);
  if (!fd) {
    return std::unexpected(fmt::format("{}: {}", path.string(), zlu_base::os_error_text(fd.error())));
  }
  auto read = zlu_package::ProfileReport::read_versioned(kj::heap<kj::FdInputStream>(kj::mv(*fd)));
  if (!read) {
    return std::unexpected(fmt::format("{}: {}", path.string(), one_line(read.error().debug())));
  }
  return LoadedProfile{.report = std::move(read->report), .format_version = read->schema_version};
}

}  // namespace zlu_profile
