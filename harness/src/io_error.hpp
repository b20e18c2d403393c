// Rendering of operating-system errors in the harness's messages.
#pragma once

#include <string>
#include <string_view>

namespace harness {

// "<description> (os error <n>)", e.g. "Broken pipe (os error 32)".
std::string render_os_error(int error_number);

// The message that ends a run whose report (or log file) cannot be written.
std::string io_error_message(int error_number);

// Writes all of `text` to `fd`, retrying short writes and interruptions.
// Returns 0, or the errno of the write that failed.
int write_all(int fd, std::string_view text);

}  // namespace harness
