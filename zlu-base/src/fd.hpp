// Writing to file descriptors, and the one way a line reaches standard error.
#pragma once

#include <string_view>

namespace zlu_base {

// Writes all of `text` to `fd`, retrying short writes and interruptions, and
// waiting for a non-blocking descriptor to drain. Returns 0, or the errno of
// the write that failed (EIO for a write that took nothing).
int write_all(int fd, std::string_view text);

// Writes `text` and a newline to standard error at once, past any buffering
// or capture: for a line the user needs now, whole even when other threads
// write too. A failed write is ignored, as there is nowhere left to say so.
void write_stderr_line(std::string_view text);

}  // namespace zlu_base
