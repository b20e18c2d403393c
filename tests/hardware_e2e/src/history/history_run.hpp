// The run history as the suite keeps it: ZLU_TEST_HISTORY names the store,
// every attempt is written to it as its test ends, and ZLU_TEST_RERUN=failed
// and the longest-first order read it before the run starts.
#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "harness/src/run/extension.hpp"
#include "zlu-base/src/environment.hpp"
#include "zlu-history/src/location.hpp"
#include "zlu-history/src/store.hpp"

namespace hardware_e2e {

inline constexpr std::string_view RERUN_VARIABLE = "ZLU_TEST_RERUN";

struct HistorySettings {
  // The store, unset without ZLU_TEST_HISTORY; whether only the latest run's
  // failures are to run again.
  std::optional<zlu_history::StoreLocation> store;
  bool rerun_failed = false;
};

// The history settings of `env`, or the line refusing them: an empty or
// foreign-scheme ZLU_TEST_HISTORY, a ZLU_TEST_RERUN other than "failed", or
// ZLU_TEST_RERUN without a history.
std::expected<HistorySettings, std::string> read_history_settings(const zlu_base::EnvLookup& env);

struct RunFacts {
  // What the run row says about the run beyond its tests.
  std::vector<std::string> arguments;  // after the program name
  std::string host;
  std::string build_id;
  std::string partition;
  std::string cards;
  std::string task;
};

// The facts of this process's run: `args` without the program name, the
// host, the executable's build and the batch task from `env`.
RunFacts run_facts(std::span<const std::string> args, const zlu_base::EnvLookup& env);

class HistoryRun : public harness::RunExtension {
  // Records one run of the suite into the store, and plans the run from
  // what the store recorded before. Never in the way: a store that cannot be
  // opened or written is named once on standard error and the run goes on
  // as it would without one.
 public:
  HistoryRun(zlu_history::StoreLocation store, bool rerun_failed, RunFacts facts);

  // Opens the store; keeps only the latest run's failures (ZLU_TEST_RERUN);
  // puts the longest tests first on more than one worker, unshuffled; gives
  // card health the recent runs' passes.
  std::expected<void, std::string> plan(std::vector<harness::TestDescAndFn>& tests,
                                        const harness::RunPlan& plan) override;
  std::unique_ptr<harness::Formatter> listener() override;

  // The listener's events.
  void run_started(const std::string& run_id, harness::WallClock::time_point started);
  void attempt_ended(std::string_view test, std::size_t try_number, const harness::Attempt& attempt);

  // Writes each card's verdict as the run gave it.
  void cards_judged(std::span<const harness::CardVerdict> verdicts);

  // Marks the run ended with the process's exit status.
  void run_ended(int exit_status);

 private:
  std::expected<void, std::string> keep_failures_of_latest_run(std::vector<harness::TestDescAndFn>& tests);
  void put_longest_first(std::vector<harness::TestDescAndFn>& tests);
  // Gives the card health watch the cards each test passed on in the build's
  // latest runs on this host (zlu_history::CARD_VERDICT_RUNS).
  void read_recent_passes(harness::CardHealthWatch& watch);
  // Names the store's failure once; nothing more is written this run.
  void give_up(std::string_view what, std::string_view error);

  zlu_history::StoreLocation store_;
  bool rerun_failed_;
  RunFacts facts_;
  std::size_t retries_ = 0;
  std::vector<std::string> planned_;
  std::unique_ptr<zlu_history::Database> db_;  // open until the run starts
  std::optional<zlu_history::RunWriter> writer_;
  bool given_up_ = false;
};

}  // namespace hardware_e2e
