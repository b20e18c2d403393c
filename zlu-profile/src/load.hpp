// Opening a profile file for the tool.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

#include "zlu-package/src/lib.hpp"

namespace zlu_profile {

// A decoded profile and the format version stamped in its file, which the
// profile model validates but does not keep.
struct LoadedProfile {
  zlu_package::ProfileReport report;
  std::uint32_t format_version = 0;
};

// Reads the profile at `path` through the package reader, with its version. On failure the
// error is one line that names the file and says what was wrong: the
// operating-system error, or the debug form of the reader's PackageError.
std::expected<LoadedProfile, std::string> load_profile(const std::filesystem::path& path);

}  // namespace zlu_profile
