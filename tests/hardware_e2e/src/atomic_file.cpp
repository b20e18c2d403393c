#include "atomic_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "os_error.hpp"

namespace hardware_e2e {

namespace {

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool write_all(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    contents.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::expected<void, std::string> write_file_atomically(const std::string& path, std::string_view contents) {
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return std::unexpected(fmt::format("cannot create a file beside \"{}\": {}", path, render_os_error(errno)));
  const auto fail = [&](std::string_view step) {
    const int error = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    return std::unexpected(fmt::format("cannot {} \"{}\": {}", step, path, render_os_error(error)));
  };
  if (::fchmod(fd, 0644) != 0) return fail("set the mode of");
  if (!write_all(fd, contents)) return fail("write");
  if (::fsync(fd) != 0) return fail("flush");
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(fmt::format("cannot write \"{}\": {}", path, render_os_error(error)));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(fmt::format("cannot replace \"{}\": {}", path, render_os_error(error)));
  }
  // The rename itself survives a crash only once the folder is flushed.
  if (const int folder = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return {};
}

}  // namespace hardware_e2e
