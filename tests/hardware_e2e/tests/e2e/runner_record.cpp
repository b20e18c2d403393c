#include "runner_record.hpp"

#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace hardware_e2e_tests {

std::optional<std::string> RunnerRecord::env(const std::string& name) const {
  for (const auto& entry : environment) {
    if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=') {
      return entry.substr(name.size() + 1);
    }
  }
  return std::nullopt;
}

std::map<std::string, std::string> RunnerRecord::zlu_variables() const {
  std::map<std::string, std::string> variables;
  for (const auto& entry : environment) {
    if (!entry.starts_with("ZLU_") || entry.starts_with("ZLU_STANDIN_") || entry.starts_with("ZLU_TEST_")) continue;
    const auto equals = entry.find('=');
    variables[entry.substr(0, equals)] = equals == std::string::npos ? "" : entry.substr(equals + 1);
  }
  return variables;
}

std::vector<RunnerRecord> read_records(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<RunnerRecord> records;
  if (!file) return records;
  std::stringstream buffer;
  buffer << file.rdbuf();
  const std::string data = buffer.str();

  std::size_t at = 0;
  RunnerRecord current;
  while (at < data.size()) {
    const auto space = data.find(' ', at);
    const auto newline = data.find('\n', space);
    if (space == std::string::npos || newline == std::string::npos) throw std::runtime_error("truncated record");
    const std::string key = data.substr(at, space - at);
    const std::size_t length = std::stoul(data.substr(space + 1, newline - space - 1));
    if (newline + 1 + length + 1 > data.size()) throw std::runtime_error("truncated record field " + key);
    std::string value = data.substr(newline + 1, length);
    at = newline + 1 + length + 1;
    if (key == "runner") {
      current = RunnerRecord{};
      current.runner = value;
    } else if (key == "start") {
      current.start_ns = std::stoull(value);
    } else if (key == "end") {
      current.end_ns = std::stoull(value);
    } else if (key == "sigpipe") {
      current.sigpipe = value;
    } else if (key == "sigmask") {
      current.sigmask = value;
    } else if (key == "env") {
      current.environment.push_back(std::move(value));
    } else if (key == "done") {
      records.push_back(std::move(current));
    } else {
      throw std::runtime_error("unknown record field " + key);
    }
  }
  return records;
}

}  // namespace hardware_e2e_tests
