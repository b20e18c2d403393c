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

// Runs `program` with `arguments`, standard input closed and SIGPIPE at its
// default, and collects its output; with `stdout_fd` given, standard output goes there instead. A
// program still running after 30 seconds is killed and reported as not
// exited, so that a hang fails the test instead of stopping the suite.
// Throws when it cannot be started.
ProgramRun run_program(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       int stdout_fd = -1);

// Runs the zlu-profile tool of this build.
ProgramRun run_tool(const std::vector<std::string>& arguments, int stdout_fd = -1);

// A fresh folder, removed with everything in it when the value goes.
using ScratchDir = ScratchDirectory;

inline std::string read_file(const std::filesystem::path& path) { return contents(path); }

// A descriptor every write to fails: a device node like the full device in
// a scratch folder where one can be made, else a pipe without a reader (with
// SIGPIPE ignored, so that the writer sees the error instead of the signal).
class UnwritableSink {
public:
  UnwritableSink();
  ~UnwritableSink();
  UnwritableSink(const UnwritableSink&) = delete;
  UnwritableSink& operator=(const UnwritableSink&) = delete;

  int fd() const { return fd_; }

private:
  ScratchDir scratch_;
  int fd_ = -1;
};

}  // namespace zlu_profile::testing
