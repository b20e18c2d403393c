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

FileConsole::FileConsole() : file_(std::tmpfile()), out_(fileno(file_), harness::Palette{}) {}

FileConsole::~FileConsole() { std::fclose(file_); }

std::string FileConsole::text() {
  std::string text;
  char buffer[4096];
  ::lseek(fileno(file_), 0, SEEK_SET);
  for (ssize_t got; (got = ::read(fileno(file_), buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

}  // namespace harness_formats
