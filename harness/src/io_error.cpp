#include "io_error.hpp"

#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <poll.h>
#include <string_view>
#include <unistd.h>

namespace harness {

std::string render_os_error(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the text, not necessarily in `buffer`.
  const char* text = strerror_r(error_number, buffer, sizeof buffer);
  return fmt::format("{} (os error {})", text, error_number);
}

std::string io_error_message(int error_number) {
  return fmt::format("error: io error when listing tests: {}\n", render_os_error(error_number));
}

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

}  // namespace harness
