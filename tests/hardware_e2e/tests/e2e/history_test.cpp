// ZLU_TEST_HISTORY and ZLU_TEST_RERUN end to end: runs of the stand-in suite
// recorded as they happened, a killed run kept as unfinished, suites writing
// one file at once, the failures run again, and the settings refused.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "scratch_store.hpp"
#include "suite_process.hpp"
#include "zlu-history/src/queries.hpp"
#include "zlu-history/src/store.hpp"

namespace hardware_e2e_tests {
namespace {

using namespace zlu_history;

constexpr std::size_t TABLE_SIZE = 23;
const std::string MULTICAST = "direct_multicast_works";

class History : public SuiteTest {
 protected:
  std::string store() const { return (dir() / "history.db").string(); }

  ChildEnvironment with_store(ChildEnvironment environment = {}) {
    environment["ZLU_TEST_HISTORY"] = store();
    return environment;
  }

  std::unique_ptr<Database> reader() {
    auto db = open_store({StoreLocation::Kind::SqliteFile, store()}, Purpose::Read);
    if (!db) throw std::runtime_error(db.error());
    return std::move(*db);
  }

  std::vector<RunSummary> recorded_runs() {
    auto runs = latest_runs(*reader(), 100);
    if (!runs) throw std::runtime_error(runs.error());
    return *runs;
  }

  std::vector<StoredAttempt> attempts(const RunSummary& run) { return *attempts_of_run(*reader(), run.run_id); }

  // Waits (up to 30 s) until the latest run in `location` (by default the
  // SQLite store) has `count` tries.
  void wait_for_attempts(std::int64_t count, std::optional<StoreLocation> location = std::nullopt) {
    if (!location) location = StoreLocation{StoreLocation::Kind::SqliteFile, store()};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::int64_t recorded = 0;
    while (recorded < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (location->kind == StoreLocation::Kind::SqliteFile && !std::filesystem::exists(location->text)) continue;
      auto db = open_store(*location, Purpose::Read);
      if (!db) continue;
      auto runs = latest_runs(**db, 1);
      if (runs && !runs->empty()) recorded = runs->front().attempts;
    }
  }

  SuiteRun run_multicast(ChildEnvironment environment) {
    return run_suite({"--exact", MULTICAST, "--test-threads", "1"}, std::move(environment));
  }
};

// The report without its times, which differ from run to run.
std::string without_times(const std::string& report) {
  return std::regex_replace(report, std::regex(R"(finished in [0-9.]+s)"), "finished in Xs");
}

TEST_F(History, RecordsAPassingAFailingAndAFlakyRunAsTheyHappened) {
  ASSERT_EQ(run_multicast(with_store()).exit_code(), 0);
  ASSERT_EQ(run_multicast(with_store({{"ZLU_STANDIN_EXIT", "1"}})).exit_code(), 101);
  const auto flaky = run_multicast(with_store({{"ZLU_STANDIN_EXIT", "1"},
                                               {"ZLU_STANDIN_FAIL_FIRST", "1"},
                                               {"ZLU_STANDIN_STARTS", (dir() / "starts").string()},
                                               {"ZLU_TEST_RETRIES", "2"},
                                               {"ZLU_TEST_BOOTSTRAP", "1"}}));
  ASSERT_EQ(flaky.exit_code(), 0) << flaky.out << flaky.err;

  const auto runs = recorded_runs();
  ASSERT_EQ(runs.size(), 3u);
  // Latest first: the flaky run, the failing one, the passing one.
  const std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t>> counts = {
      {0, 1, 0, 1}, {101, 0, 1, 0}, {0, 1, 0, 0}};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const auto& [status, passed, failed, flaky_tests] = counts[i];
    EXPECT_EQ(runs[i].exit_status, std::optional<std::int64_t>(status)) << i;
    EXPECT_EQ(runs[i].passed, passed) << i;
    EXPECT_EQ(runs[i].failed, failed) << i;
    EXPECT_EQ(runs[i].flaky, flaky_tests) << i;
    EXPECT_TRUE(runs[i].build_id.starts_with("gnu:")) << runs[i].build_id;
    EXPECT_EQ(runs[i].planned, std::vector<std::string>{MULTICAST});
  }
  const auto tries = attempts(runs[0]);
  ASSERT_EQ(tries.size(), 2u);
  EXPECT_EQ(tries[0].try_number, 1);
  EXPECT_EQ(tries[0].outcome, "failed");
  EXPECT_NE(tries[0].message.find("failed with exit status: 1"), std::string::npos) << tries[0].message;
  EXPECT_EQ(tries[1].outcome, "passed");
  EXPECT_EQ(tries[1].card, std::optional<std::int64_t>(0));
  EXPECT_LE(tries[0].started + tries[0].duration, tries[1].started);
  EXPECT_NE(tries[1].measurements.find(R"("card":{"card":0)"), std::string::npos) << tries[1].measurements;
}

TEST_F(History, AKilledRunKeepsItsEndedAttemptsAndItsRerunRunsWhatNeverEnded) {
  const auto started = start_suite({"--test-threads", "1"}, with_store({{"ZLU_STANDIN_SLEEP_MS", "100"}}), true);
  wait_for_attempts(3);
  kill(-started.pid, SIGKILL);
  const auto killed = wait_program(started);
  ASSERT_EQ(killed.exit_code(), -1);

  auto runs = recorded_runs();
  ASSERT_EQ(runs.size(), 1u);
  const RunSummary kept = runs[0];
  EXPECT_EQ(kept.ended, std::nullopt);
  ASSERT_GE(kept.attempts, 3);
  EXPECT_EQ(kept.passed, kept.attempts);
  EXPECT_EQ(kept.not_finished, static_cast<std::int64_t>(TABLE_SIZE) - kept.attempts);

  const auto rerun = run_suite({}, with_store({{"ZLU_TEST_RERUN", "failed"}}));
  ASSERT_EQ(rerun.exit_code(), 0) << rerun.err;
  EXPECT_NE(rerun.out.find(fmt::format("{} passed; 0 failed; 0 ignored; 0 measured; {} filtered out",
                                       TABLE_SIZE - static_cast<std::size_t>(kept.attempts), kept.attempts)),
            std::string::npos)
      << rerun.out;
  runs = recorded_runs();
  ASSERT_EQ(runs.size(), 2u);
  std::set<std::string> ran_again(runs[0].planned.begin(), runs[0].planned.end());
  for (const auto& attempt : attempts(kept)) EXPECT_FALSE(ran_again.contains(attempt.test)) << attempt.test;
}

TEST_F(History, AFailedTryIsKeptThoughTheRunIsKilledDuringTheNextTry) {
  // Each try's runner stays 300 ms; the first fails, the second would pass.
  const auto started = start_suite({"--exact", MULTICAST, "--test-threads", "1"},
                                   with_store({{"ZLU_STANDIN_SLEEP_MS", "300"},
                                               {"ZLU_STANDIN_EXIT", "1"},
                                               {"ZLU_STANDIN_FAIL_FIRST", "1"},
                                               {"ZLU_STANDIN_STARTS", (dir() / "starts").string()},
                                               {"ZLU_TEST_RETRIES", "1"},
                                               {"ZLU_TEST_BOOTSTRAP", "1"}}),
                                   true);
  wait_for_attempts(1);
  kill(-started.pid, SIGKILL);
  ASSERT_EQ(wait_program(started).exit_code(), -1);
  const auto runs = recorded_runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].ended, std::nullopt);
  const auto tries = attempts(runs[0]);
  ASSERT_EQ(tries.size(), 1u);
  EXPECT_EQ(tries[0].try_number, 1);
  EXPECT_EQ(tries[0].outcome, "failed");
}

TEST_F(History, TheRerunRunsTheFailuresOfTheLatestRunAndNothingWhenItPassed) {
  const auto failing = run_suite({}, with_store({{"ZLU_STANDIN_EXIT", "1"}, {"ZLU_STANDIN_RUNNER", "zlu-gemm-e2e"}}));
  ASSERT_EQ(failing.exit_code(), 101);
  const auto first = recorded_runs().front();
  ASSERT_GT(first.failed, 0);
  std::set<std::string> failed;
  const auto did_not_pass = not_passed(*reader(), first);
  for (const auto& test : *did_not_pass) failed.insert(test.test);

  const auto rerun = run_suite({}, with_store({{"ZLU_TEST_RERUN", "failed"}}));
  ASSERT_EQ(rerun.exit_code(), 0) << rerun.err;
  const auto second = recorded_runs().front();
  EXPECT_EQ(std::set<std::string>(second.planned.begin(), second.planned.end()), failed);
  EXPECT_EQ(second.passed, static_cast<std::int64_t>(failed.size()));

  const auto nothing_left = run_suite({}, with_store({{"ZLU_TEST_RERUN", "failed"}}));
  ASSERT_EQ(nothing_left.exit_code(), 0) << nothing_left.err;
  const std::string summary = fmt::format("0 passed; 0 failed; 0 ignored; 0 measured; {} filtered out", TABLE_SIZE);
  EXPECT_NE(nothing_left.out.find(summary), std::string::npos)
      << nothing_left.out;
}

TEST_F(History, EightSuitesAtOnceWriteEveryAttemptOnceIntoOneFile) {
  constexpr int SUITES = 8;
  std::vector<StartedProgram> started;
  for (int suite = 0; suite < SUITES; ++suite)
    started.push_back(start_suite({"--test-threads", "2"}, with_store({{"ZLU_TEST_CARDS", "0-3"}})));
  for (const auto& program : started) {
    const auto run = wait_program(program);
    EXPECT_EQ(run.exit_code(), 0) << run.out << run.err;
    // The suites wait for each other's cards and say so; the history says nothing.
    EXPECT_EQ(run.err.find("ZLU_TEST_HISTORY"), std::string::npos) << run.err;
  }
  const auto runs = recorded_runs();
  ASSERT_EQ(runs.size(), static_cast<std::size_t>(SUITES));
  std::set<std::string> ids;
  for (const auto& run : runs) {
    ids.insert(run.run_id);
    EXPECT_EQ(run.attempts, static_cast<std::int64_t>(TABLE_SIZE)) << run.run_id;
    EXPECT_EQ(run.passed, static_cast<std::int64_t>(TABLE_SIZE)) << run.run_id;
    EXPECT_TRUE(run.ended.has_value());
  }
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(SUITES));
}

TEST_F(History, FourPartitionsAtOnceWriteOnePostgresDatabase) {
  zlu_history_tests::PostgresServer server;
  const std::string url = server.new_database_url();
  std::vector<StartedProgram> started;
  for (int partition = 1; partition <= 4; ++partition) {
    started.push_back(start_suite({"--test-threads", "2"},
                                  {{"ZLU_TEST_HISTORY", url},
                                   {"ZLU_TEST_PARTITION", fmt::format("count:{}/4", partition)},
                                   {"ZLU_TEST_CARDS", "0-3"}}));
  }
  for (const auto& program : started) {
    const auto run = wait_program(program);
    EXPECT_EQ(run.exit_code(), 0) << run.out << run.err;
  }
  auto db = open_store({StoreLocation::Kind::Postgres, url}, Purpose::Read);
  ASSERT_TRUE(db.has_value()) << db.error();
  const auto runs = latest_runs(**db, 10);
  ASSERT_TRUE(runs.has_value()) << runs.error();
  ASSERT_EQ(runs->size(), 4u);
  std::multiset<std::string> tests;
  std::set<std::string> partitions;
  for (const auto& run : *runs) {
    partitions.insert(run.partition);
    EXPECT_EQ(run.attempts, static_cast<std::int64_t>(run.planned.size())) << run.partition;
    EXPECT_EQ(run.passed, run.attempts) << run.partition;
    const auto ended = attempts_of_run(**db, run.run_id);
    for (const auto& attempt : *ended) tests.insert(attempt.test);
  }
  EXPECT_EQ(partitions, (std::set<std::string>{"count:1/4", "count:2/4", "count:3/4", "count:4/4"}));
  // Every test of the table once, in one partition or another.
  EXPECT_EQ(tests.size(), TABLE_SIZE);
  EXPECT_EQ(std::set<std::string>(tests.begin(), tests.end()).size(), TABLE_SIZE);
}

TEST_F(History, MalformedSettingsStopTheRunBeforeAnyRunner) {
  const std::string empty_store = (dir() / "empty.db").string();
  struct Case {
    ChildEnvironment environment;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{{"ZLU_TEST_HISTORY", ""}}, "ZLU_TEST_HISTORY=\"\": expected an SQLite file path or a postgresql:// URL"},
      {{{"ZLU_TEST_HISTORY", "mysql://db/h"}},
       "ZLU_TEST_HISTORY=mysql://db/h: a URL of scheme \"mysql\" names no store"},
      {{{"ZLU_TEST_HISTORY", store()}, {"ZLU_TEST_RERUN", "all"}}, "ZLU_TEST_RERUN=all: expected `failed`"},
      {{{"ZLU_TEST_HISTORY", store()}, {"ZLU_TEST_RERUN", ""}}, "ZLU_TEST_RERUN=: expected `failed`"},
      {{{"ZLU_TEST_RERUN", "failed"}}, "ZLU_TEST_RERUN=failed: needs a history to read the latest run from"},
      {{{"ZLU_TEST_HISTORY", empty_store}, {"ZLU_TEST_RERUN", "failed"}},
       fmt::format("ZLU_TEST_RERUN=failed: history {}: holds no run of this build (gnu:", empty_store)},
  };
  for (const auto& c : cases) {
    const auto run = run_suite({}, c.environment);
    EXPECT_EQ(run.exit_code(), 101) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_TRUE(records().empty()) << c.message;
  }
}

TEST_F(History, AStoreThatCannotBeOpenedIsNamedOnceAndTheRunGoesOnUnchanged) {
  const auto plain = run_multicast({});
  const std::string unreachable = (dir() / "no-such-folder" / "history.db").string();
  const auto run = run_multicast({{"ZLU_TEST_HISTORY", unreachable}});
  EXPECT_EQ(run.exit_code(), 0);
  EXPECT_EQ(without_times(run.out), without_times(plain.out));
  EXPECT_EQ(run.err, fmt::format("ZLU_TEST_HISTORY={}: the run is not recorded: history {}: "
                                 "unable to open database file\n",
                                 unreachable, unreachable));
}

TEST_F(History, AStoreLostDuringTheRunIsNamedOnceAndTheRunPasses) {
  auto server = std::make_unique<zlu_history_tests::PostgresServer>();
  const std::string url = server->new_database_url();
  const auto started =
      start_suite({"--test-threads", "1"}, {{"ZLU_TEST_HISTORY", url}, {"ZLU_STANDIN_SLEEP_MS", "50"}});
  // Once the run has written its first tries, the server goes away.
  wait_for_attempts(2, StoreLocation{StoreLocation::Kind::Postgres, url});
  server.reset();
  const auto run = wait_program(started);
  EXPECT_EQ(run.exit_code(), 0);
  EXPECT_NE(run.out.find(fmt::format("{} passed; 0 failed", TABLE_SIZE)), std::string::npos) << run.out;
  const std::string line = fmt::format("ZLU_TEST_HISTORY={}: the run's further attempts are not recorded: ", url);
  EXPECT_TRUE(run.err.starts_with(line)) << run.err;
  EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
}

}  // namespace
}  // namespace hardware_e2e_tests
