#include "reports/console.hpp"

#include "reports/io_error.hpp"

namespace harness {

void ConsoleOutput::write(std::string_view text) {
  if (error_ != 0) return;
  error_ = write_all(fd_, text);
}

void ConsoleOutput::write_colored(Color color, std::string_view text) { write(palette_.paint(color, text)); }

}  // namespace harness
