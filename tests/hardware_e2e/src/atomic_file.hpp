// Replacing a file so that readers see the old contents or the new, never
// a part: a new file beside it, flushed to disk, renamed over it.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace hardware_e2e {

std::expected<void, std::string> write_file_atomically(const std::string& path, std::string_view contents);
// The error names the path and the failing step; on failure nothing is left
// behind and an existing file at `path` is untouched.

}  // namespace hardware_e2e
