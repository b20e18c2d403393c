// Writing a generated file so that readers never see half of it.
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace zlu_profile {

// Runs `write` on a new file beside `path` and renames it onto `path` once
// it is complete and flushed; on any failure the new file is removed and an
// existing file at `path` is left as it was, and a replaced file keeps its
// mode. A link at `path` stays and the file it names is replaced; a
// character device or a pipe is written in place; "-" means standard output. The error names the file and the
// system's reason.
std::expected<void, std::string> write_output(const std::filesystem::path& path,
                                              const std::function<void(std::ostream&)>& write);

}  // namespace zlu_profile
