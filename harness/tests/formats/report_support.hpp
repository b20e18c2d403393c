// What the report tests share: the gate's environment and the files a run
// leaves behind.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "reports/console.hpp"

namespace harness_formats {

// `env` with the gate of `-Z unstable-options` open.
std::map<std::string, std::string> with_gate(std::map<std::string, std::string> env = {});

// A path in the temporary directory, unique to this process, for a file named after `stem`.
std::string temporary_path(const std::string& stem);

// The whole content of the file at `path`, empty when it cannot be read.
std::string read_file(const std::string& path);

// A ConsoleOutput over a temporary file that the test reads back, for
// driving a formatter directly.
class FileConsole {
 public:
  FileConsole();
  ~FileConsole();
  FileConsole(const FileConsole&) = delete;
  FileConsole& operator=(const FileConsole&) = delete;
  harness::ConsoleOutput& out() { return out_; }
  // Everything written so far.
  std::string text();

 private:
  std::FILE* file_;
  harness::ConsoleOutput out_;
};

}  // namespace harness_formats
