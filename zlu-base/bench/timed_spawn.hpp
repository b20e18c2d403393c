// Timing one run of a program for the benchmarks that start runners or the
// suite as a whole.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace zlu_bench {

// Runs `program` without arguments, with this process's environment plus
// `additions` ("NAME=value"), standard output to `out` (created or
// truncated) and standard error discarded. Returns the wall time in
// milliseconds and the wait status (-1 when it could not be started).
inline std::pair<double, int> timed_spawn(const std::string& program, const std::vector<std::string>& additions,
                                          const std::string& out = "/dev/null") {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  env.insert(env.end(), additions.begin(), additions.end());
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  int status = -1;
  if (posix_spawn(&child, path.c_str(), &actions, nullptr, argv, envp.data()) == 0) waitpid(child, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(), status};
}

}  // namespace zlu_bench
