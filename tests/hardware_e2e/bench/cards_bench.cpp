// What a pool of cards buys: the whole suite against stand-in runners that
// each take 250 ms, on one, two and four cards, with eight workers.
//
// Usage: hardware_e2e_cards_bench [ROUNDS]   (default 1)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Seconds for one run of the suite with ZLU_TEST_CARDS=`cards`, or a
// negative figure when it did not pass.
double suite_seconds(const std::string& cards, const std::string& lock_dir) {
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("ZLU_")) env_text.emplace_back(*entry);
  }
  env_text.push_back("ZLU_TEST_CARDS=" + cards);
  env_text.push_back("ZLU_TEST_LOCK_DIR=" + lock_dir);
  env_text.push_back("ZLU_STANDIN_SLEEP_MS=250");
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = STANDIN_SUITE;
  std::string threads = "--test-threads";
  std::string eight = "8";
  char* argv[] = {program.data(), threads.data(), eight.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  std::string scratch = (std::filesystem::temp_directory_path() / "cards-bench-XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::vector<std::pair<int, std::string>> pools = {{1, "0"}, {2, "0-1"}, {4, "0-3"}};
  std::vector<double> best(pools.size(), 1e9);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < pools.size(); ++i) {
      const double seconds = suite_seconds(pools[i].second, scratch);
      if (seconds < 0) {
        std::fprintf(stderr, "the suite did not pass with ZLU_TEST_CARDS=%s\n", pools[i].second.c_str());
        std::filesystem::remove_all(scratch);
        return 1;
      }
      best[i] = std::min(best[i], seconds);
    }
  }
  std::filesystem::remove_all(scratch);
  fmt::print("whole suite, 27 runner starts of 250 ms each, 8 workers (best of {} runs)\n", rounds);
  for (std::size_t i = 0; i < pools.size(); ++i) {
    fmt::print("  {} card{}  {:6.3f} s   {:.2f}x one card\n", pools[i].first, pools[i].first == 1 ? " " : "s",
               best[i], best[i] / best[0]);
  }
  return 0;
}
