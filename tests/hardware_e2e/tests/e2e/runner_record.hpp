// The records the stand-in runner appends, one per start: fields written as
// "<key> <length>\n<bytes>\n", from "runner" to "done", one "env" per variable.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hardware_e2e_tests {

struct RunnerRecord {
  // What one start of the stand-in runner saw.

  std::string runner;
  std::uint64_t start_ns = 0;
  std::uint64_t end_ns = 0;
  std::string sigpipe;  // "default" or "changed"
  std::string sigmask;  // "empty" or "blocked"
  std::vector<std::string> environment;  // "NAME=VALUE", raw bytes

  std::optional<std::string> env(const std::string& name) const;
  // The value of `name`, or none when the runner did not have it.
  std::map<std::string, std::string> zlu_variables() const;
  // Every variable starting with ZLU_ except the stand-in's controls and
  // the suite's own ZLU_TEST_ settings, which runners merely inherit.
};

std::vector<RunnerRecord> read_records(const std::filesystem::path& path);
// Parses the record file; a missing file holds no records. A malformed file
// throws, which fails the test that reads it.

}  // namespace hardware_e2e_tests
