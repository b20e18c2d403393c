// Writing to file descriptors.
#pragma once

#include <string_view>

namespace zlu_base {

// Writes all of `text` to `fd`, retrying short writes and interruptions, and
// waiting for a non-blocking descriptor to drain. Returns 0, or the errno of
// the write that failed (EIO for a write that took nothing).
int write_all(int fd, std::string_view text);

}  // namespace zlu_base
