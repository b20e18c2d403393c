#include "fd.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace zlu_base {

int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A non-blocking descriptor inherited from the caller: wait until it drains.
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
      }
      return errno;
    }
    if (written == 0) return EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

void write_stderr_line(std::string_view text) {
  std::string line(text);
  line += '\n';
  [[maybe_unused]] const int error = write_all(STDERR_FILENO, line);
}

}  // namespace zlu_base
