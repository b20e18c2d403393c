// What one bad card of four costs a run: the whole suite on the model with
// four good cards, and with card 2's tile 117 stuck, retries 1 and
// quarantine on, four workers; each run in a fresh lock folder, so that every
// bad run meets the bad card anew.
//
// Usage: hardware_e2e_health_bench [ROUNDS]   (default 9)
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

struct Run {
  double seconds = -1;  // negative when the suite did not pass
  bool quarantined = false;  // whether card 2 ended the run quarantined
};

Run suite_run(const std::string& fault, const std::filesystem::path& scratch) {
  const std::filesystem::path lock_dir = scratch / "locks";
  std::filesystem::remove_all(lock_dir);
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("ZLU_")) env_text.emplace_back(*entry);
  }
  for (const char* setting : {"ZLU_TEST_CARDS=0-3", "ZLU_TEST_RETRIES=1", "ZLU_TEST_QUARANTINE=on"}) {
    env_text.emplace_back(setting);
  }
  env_text.push_back("ZLU_TEST_LOCK_DIR=" + lock_dir.string());
  if (!fault.empty()) env_text.push_back("ZLU_SIM_CARD_FAULT=" + fault);
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = MODEL_SUITE;
  std::string threads = "--test-threads";
  std::string four = "4";
  char* argv[] = {program.data(), threads.data(), four.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return {};
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return {seconds, std::filesystem::exists(lock_dir / "card-2.quarantine")};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  std::string scratch = (std::filesystem::temp_directory_path() / "health-bench-XXXXXX").string();
  if (mkdtemp(scratch.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  std::vector<double> good;
  std::vector<double> bad;
  int quarantined = 0;
  for (int round = 0; round < rounds; ++round) {
    const Run all_good = suite_run("", scratch);
    const Run one_bad = suite_run("2:tile=117:stuck-bit=5", scratch);
    if (all_good.seconds < 0 || one_bad.seconds < 0) {
      std::fprintf(stderr, "a run of the suite did not pass\n");
      std::filesystem::remove_all(scratch);
      return 1;
    }
    good.push_back(all_good.seconds);
    bad.push_back(one_bad.seconds);
    quarantined += one_bad.quarantined ? 1 : 0;
  }
  std::filesystem::remove_all(scratch);
  fmt::print("whole suite on the model, cards 0-3, 4 workers, retries 1, quarantine on (median of {} runs)\n", rounds);
  fmt::print("  {:<26}{:6.3f} s\n", "four good cards", median(good));
  fmt::print("  {:<26}{:6.3f} s   {:.2f}x   card 2 quarantined in {} of {} runs\n", "card 2 stuck at tile 117", median(bad),
             median(bad) / median(good), quarantined, rounds);
  return 0;
}
