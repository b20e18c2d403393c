#include "tool.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace zlu_profile::testing {

ProgramRun run_program(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
  // Output goes to files rather than pipes so that a chatty program can
  // never block on a full pipe while we wait for it.
  const ScratchDir scratch;
  const std::string out_path = (scratch / "out").string();
  const std::string err_path = (scratch / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv_storage{program.string()};
  argv_storage.insert(argv_storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argv_storage) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("cannot start " + program.string());
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("cannot wait for " + program.string());
    }
  }
  return {.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          .out = read_file(out_path),
          .err = read_file(err_path)};
}

ProgramRun run_tool(const std::vector<std::string>& arguments) { return run_program(ZLU_PROFILE_TOOL, arguments); }

}  // namespace zlu_profile::testing
