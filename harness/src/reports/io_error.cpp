#include "reports/io_error.hpp"

#include <fmt/format.h>

namespace harness {

std::string io_error_message(int error_number) {
  return fmt::format("error: io error when listing tests: {}\n", render_os_error(error_number));
}

}  // namespace harness
