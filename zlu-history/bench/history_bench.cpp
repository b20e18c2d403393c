// What keeping a history costs and how fast it answers:
//   - one recorded attempt (an insert and its commit), in SQLite and PostgreSQL;
//   - `zlu-e2e flaky` and `zlu-e2e cards` as whole processes over a history
//     of 1,000,000 attempts, in SQLite and PostgreSQL.
// Usage: zlu_history_bench ZLU_E2E [ATTEMPTS] [sqlite]   (sqlite: leave PostgreSQL out)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "scratch_store.hpp"
#include "zlu-base/src/splitmix64.hpp"
#include "zlu-history/src/store.hpp"

namespace {

using namespace zlu_history;
using Clock = std::chrono::steady_clock;

// The suite's 23 tests, 8 hosts of 4 cards, 20 builds; a try fails 3% of the
// time, on card 3 of host 0 ten times as often, and a failed try is retried once.
constexpr int TESTS = 23;
constexpr int HOSTS = 8;
constexpr int CARDS = 4;
constexpr int BUILDS = 20;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::unique_ptr<Database> open_or_die(const StoreLocation& location) {
  auto db = open_store(location, Purpose::Record);
  if (!db) {
    fmt::print(stderr, "{}\n", db.error());
    std::exit(1);
  }
  return std::move(*db);
}

RunRecord run_record(std::string id, Micros started, std::string host, std::string build) {
  return RunRecord{.run_id = std::move(id), .started = started, .host = std::move(host),
                   .build_id = std::move(build), .arguments = {}, .partition = "", .cards = "0-3",
                   .retries = 1, .task = "", .planned = {}};
}

// As a suite records: runs of the 23 tests, each run's own writer (which
// looks each test's series up once), its tests spread over 4 cards.
void record_cost(const StoreLocation& location, std::string_view name) {
  constexpr int RUNS = 200;
  std::vector<std::string> tests;
  for (int i = 0; i < TESTS; ++i) tests.push_back(fmt::format("suite_test_number_{}_works", i));
  auto db = open_or_die(location);
  double recording = 0;
  for (int run = 0; run < RUNS; ++run) {
    auto writer = RunWriter::begin(std::move(db), run_record(fmt::format("cost-{}", run), run, "h", "b"));
    const auto start = Clock::now();
    for (int test = 0; test < TESTS; ++test) {
      (void)writer->record(AttemptRecord{.test = tests[static_cast<std::size_t>(test)], .try_number = 1,
                                         .card = (run + test) % CARDS, .started = run, .duration = 250'000,
                                         .card_wait = 10, .outcome = Outcome::Passed, .message = "",
                                         .measurements = R"({"card":{"card":0,"wait_ms":0}})"});
    }
    recording += seconds_since(start);
    db = std::move(*writer).release();
  }
  fmt::print("{}: one recorded attempt (insert + commit): {:.1f} us (mean of {})\n", name,
             recording * 1e6 / (RUNS * TESTS), RUNS * TESTS);
}

void fill(const StoreLocation& location, int attempts) {
  constexpr int RUNS_PER_TRANSACTION = 500;
  zlu_base::SplitMix64 random(23);
  std::vector<std::string> tests;
  for (int i = 0; i < TESTS; ++i) tests.push_back(fmt::format("suite_test_number_{}_works", i));
  int written = 0;
  auto db = open_or_die(location);
  for (int run = 0; written < attempts; ++run) {
    if (run % RUNS_PER_TRANSACTION == 0) (void)db->execute("BEGIN");
    const int host = run % HOSTS;
    const Micros started = Micros{run} * 3'600'000'000;
    auto writer = RunWriter::begin(std::move(db), run_record(fmt::format("{:032x}", run), started,
                                                             fmt::format("host-{}", host),
                                                             fmt::format("gnu:{:08x}", run * BUILDS / 45'000)));
    for (int test = 0; test < TESTS && written < attempts; ++test) {
      const int card = static_cast<int>(random.next() % CARDS);
      const bool bad_card = host == 0 && card == 3;
      for (int try_number = 1; try_number <= 2 && written < attempts; ++try_number) {
        const bool failed = random.next() % 1000 < (bad_card ? 300u : 30u);
        (void)writer->record(AttemptRecord{.test = tests[static_cast<std::size_t>(test)], .try_number = try_number,
                                           .card = card, .started = started + test, .duration = 250'000,
                                           .card_wait = 0, .outcome = failed ? Outcome::Failed : Outcome::Passed,
                                           .message = failed ? "exit status: 1" : "", .measurements = "{}"});
        ++written;
        if (!failed) break;
      }
    }
    (void)writer->finish(started + 1, 0);
    db = std::move(*writer).release();
    if (run % RUNS_PER_TRANSACTION == RUNS_PER_TRANSACTION - 1 || written >= attempts) (void)db->execute("COMMIT");
  }
}

struct ProcessTime {
  double wall = 0;
  double cpu = 0;  // user and system time of the process
};

ProcessTime tool_time(const std::string& tool, const std::string& history, const std::string& command) {
  const auto start = Clock::now();
  std::fflush(stdout);
  const int pid = fork();
  if (pid == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    execl(tool.c_str(), tool.c_str(), "--history", history.c_str(), command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  const ProcessTime time{seconds_since(start), seconds(usage.ru_utime) + seconds(usage.ru_stime)};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fmt::print("  ({} exited with status {})\n", command, status);
  return time;
}

void tool_figures(const std::string& tool, const StoreLocation& location, std::string_view name, int attempts) {
  const auto start = Clock::now();
  fill(location, attempts);
  fmt::print("{}: filled with {} attempts in {:.1f} s\n", name, attempts, seconds_since(start));
  for (const std::string command : {"flaky", "cards"}) {
    ProcessTime best{1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
      const auto time = tool_time(tool, location.text, command);
      best = {std::min(best.wall, time.wall), std::min(best.cpu, time.cpu)};
    }
    fmt::print("{}: zlu-e2e {} over {} attempts: {:.3f} s wall, {:.3f} s CPU of the tool (best of 3)\n", name,
               command, attempts, best.wall, best.cpu);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fmt::print(stderr, "usage: zlu_history_bench ZLU_E2E [ATTEMPTS]\n");
    return 2;
  }
  const std::string tool = argv[1];
  const int attempts = argc > 2 ? std::atoi(argv[2]) : 1'000'000;
  const bool with_postgres = argc <= 3 || std::string_view(argv[3]) != "sqlite";
  zlu_history_tests::ScratchFolder scratch;
  record_cost({StoreLocation::Kind::SqliteFile, (scratch.path() / "cost.db").string()}, "SQLite");
  tool_figures(tool, {StoreLocation::Kind::SqliteFile, (scratch.path() / "big.db").string()}, "SQLite", attempts);
  if (with_postgres) {
    zlu_history_tests::PostgresServer server;
    record_cost({StoreLocation::Kind::Postgres, server.new_database_url()}, "PostgreSQL");
    tool_figures(tool, {StoreLocation::Kind::Postgres, server.new_database_url()}, "PostgreSQL", attempts);
  }
  return 0;
}
