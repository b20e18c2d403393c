#include "report_support.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace harness_formats {

std::map<std::string, std::string> with_gate(std::map<std::string, std::string> env) {
  env.emplace("ZLU_TEST_BOOTSTRAP", "1");
  return env;
}

std::string temporary_path(const std::string& stem) {
  return (std::filesystem::temp_directory_path() / (stem + std::to_string(::getpid()))).string();
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace harness_formats
