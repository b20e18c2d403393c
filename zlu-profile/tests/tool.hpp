// Running programs from tests, and scratch folders for their files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "profile_builder.hpp"

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

// A fresh folder, removed with everything in it when the value goes.
using ScratchDir = ScratchDirectory;

inline std::string read_file(const std::filesystem::path& path) { return contents(path); }

}  // namespace zlu_profile::testing
