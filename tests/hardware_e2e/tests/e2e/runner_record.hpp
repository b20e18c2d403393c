// The records the stand-in runner appends, one per start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hardware_e2e_tests {

struct RunnerRecord {
  std::string runner;
  std::uint64_t start_ns = 0;
  std::uint64_t end_ns = 0;
  std::string sigpipe;  // "default" or "changed"
  std::string sigmask;  // "empty" or "blocked"
  std::vector<std::string> environment;  // "NAME=VALUE", raw bytes

  // The value of `name`, or none when the runner did not have it.
  std::optional<std::string> env(const std::string& name) const;
  // Every variable starting with ZLU_ except the stand-in's controls and
  // the suite's own ZLU_TEST_ settings, which runners merely inherit.
  std::map<std::string, std::string> zlu_variables() const;
};

// Parses the record file; a missing file holds no records. A malformed file
// is reported as a test failure by the caller through the thrown message.
std::vector<RunnerRecord> read_records(const std::filesystem::path& path);

}  // namespace hardware_e2e_tests
