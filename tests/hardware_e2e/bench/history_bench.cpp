// What the run history changes in a whole run, on a table of 23 stand-in
// tests whose bodies each start the stand-in runner and wait for it:
//   - the same run with and without a store (SQLite) on 4 workers, 23 runners
//     of 100 ms each: the median wall times and how far apart they are;
//   - 4 workers (one per card) with one 2 s test last in table order and 22
//     of 0.25 s: the wall time in table order, longest first (after a run
//     that recorded the durations), and the lower bound max(2 s, total / 4).
//
// Usage: hardware_e2e_history_bench [ROUNDS]   (default 10)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "history/history_run.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int TESTS = 23;
// How long each stand-in runner stays, per test; set before each run.
std::array<std::atomic<int>, TESTS> runner_ms;

void start_standin(int milliseconds) {
  std::string program = STANDIN_RUNNER;
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) variables.emplace_back(*entry);
  variables.push_back(fmt::format("ZLU_STANDIN_SLEEP_MS={}", milliseconds));
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  char* argv[] = {program.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) harness::fail("cannot start");
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
}

template <int N>
void standin_body() {
  start_standin(runner_ms[N].load());
}

template <int... N>
std::vector<harness::TestDescAndFn> make_table(std::integer_sequence<int, N...>) {
  static const std::array<std::string, TESTS> names = {fmt::format("standin_{:02}", N)...};
  std::vector<harness::TestDescAndFn> table;
  (table.push_back({harness::TestDesc{.name = names[N],
                                      .ignore = false,
                                      .ignore_message = std::nullopt,
                                      .source_path = "bench",
                                      .start_line = 1,
                                      .start_col = 1,
                                      .end_line = 1,
                                      .end_col = 1,
                                      .should_panic = {},
                                      .compile_fail = false,
                                      .no_run = false,
                                      .test_type = harness::TestType::IntegrationTest},
                    &standin_body<N>}),
   ...);
  return table;
}

const std::vector<harness::TestDescAndFn>& table() {
  static const auto built = make_table(std::make_integer_sequence<int, TESTS>());
  return built;
}

// One run on 4 workers, its report sent to /dev/null; the wall time in seconds.
double timed_run(const std::optional<zlu_history::StoreLocation>& store) {
  const std::vector<std::string> args = {"bench", "--test-threads", "4"};
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  const auto start = Clock::now();
  int status = 0;
  if (store) {
    hardware_e2e::HistoryRun history(*store, false, hardware_e2e::run_facts(args, zlu_base::process_environment()));
    status = harness::test_main_extended(args, table(), history);
    history.run_ended(status);
  } else {
    status = harness::test_main_static(args, table());
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  if (status != 0) fmt::print(stderr, "a bench run failed with status {}\n", status);
  return seconds;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  std::string folder = (std::filesystem::temp_directory_path() / "history-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return 1;
  const zlu_history::StoreLocation cost_store{zlu_history::StoreLocation::Kind::SqliteFile, folder + "/cost.db"};
  const zlu_history::StoreLocation order_store{zlu_history::StoreLocation::Kind::SqliteFile, folder + "/order.db"};

  for (auto& ms : runner_ms) ms = 100;
  std::vector<double> without, with;
  for (int round = 0; round < rounds; ++round) {
    without.push_back(timed_run(std::nullopt));
    with.push_back(timed_run(cost_store));
  }
  const double plain = median(without);
  const double recorded = median(with);
  fmt::print("23 runners of 100 ms on 4 workers, median of {}: without a store {:.3f} s, with {:.3f} s ({:+.1f}%)\n",
             rounds, plain, recorded, 100.0 * (recorded - plain) / plain);

  for (auto& ms : runner_ms) ms = 250;
  runner_ms[TESTS - 1] = 2000;
  const double table_order = timed_run(std::nullopt);
  timed_run(order_store);  // records the durations; nothing recorded yet, so table order
  const double longest_first = timed_run(order_store);
  const double total = 22 * 0.25 + 2.0;
  fmt::print("4 workers, 22 tests of 0.25 s and one of 2 s last: table order {:.2f} s, longest first {:.2f} s, "
             "lower bound max(2 s, {:.2f} s / 4) = {:.2f} s\n",
             table_order, longest_first, total, std::max(2.0, total / 4));
  std::filesystem::remove_all(folder);
  return 0;
}
