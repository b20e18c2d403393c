// Running programs from tests, and scratch folders for their files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zlu_profile::testing {

// What a finished program left behind.
struct ProgramRun {
  int exit_code = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments`, standard input closed, and collects its
// output. Throws when it cannot be started.
ProgramRun run_program(const std::filesystem::path& program, const std::vector<std::string>& arguments);

// Runs the zlu-profile tool of this build.
ProgramRun run_tool(const std::vector<std::string>& arguments);

// A fresh folder under the system's temporary directory, removed with
// everything in it when the value goes.
class ScratchDir {
public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);

}  // namespace zlu_profile::testing
