// One timed run of a build of the suite, for the benchmarks: the caller's
// environment without its ZLU_ variables, plus the settings given.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace hardware_e2e_bench {

// Seconds the run of `program` with `args` and `settings` ("NAME=VALUE")
// took, its output thrown away; negative when it did not exit with status 0.
inline double timed_suite_run(std::string program, std::vector<std::string> args,
                              const std::vector<std::string>& settings) {
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("ZLU_")) env_text.emplace_back(*entry);
  }
  env_text.insert(env_text.end(), settings.begin(), settings.end());
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv{program.data()};
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// The rounds the command line asks for (its first argument, at least 1), or
// `fallback` without one.
inline int rounds_asked(int argc, char** argv, int fallback) {
  return argc > 1 ? std::max(1, std::atoi(argv[1])) : fallback;
}

// A new folder of the benchmark's own under the temporary folder, named
// after `name`; when none can be made, the benchmark ends with status 1.
inline std::string scratch_folder(const std::string& name) {
  std::string path = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
  if (mkdtemp(path.data()) == nullptr) {
    std::perror("no scratch folder");
    std::exit(1);
  }
  return path;
}

}  // namespace hardware_e2e_bench
