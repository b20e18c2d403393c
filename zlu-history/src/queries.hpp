// The questions the tool and the suite ask of a history.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.hpp"
#include "records.hpp"

namespace zlu_history {

struct RunSummary {
  // A run's row and what its attempts add up to. A test passed when one of
  // its tries passed, failed when none did, and is flaky when it passed after
  // failing; a planned test without any attempt never finished.
  std::string run_id;
  Micros started = 0;
  std::optional<Micros> ended;  // nullopt: still running, or killed
  std::optional<std::int64_t> exit_status;
  std::string host;
  std::string build_id;
  std::string task;
  std::string partition;
  std::vector<std::string> planned;
  std::int64_t attempts = 0;
  std::int64_t passed = 0;
  std::int64_t failed = 0;
  std::int64_t flaky = 0;
  std::int64_t not_finished = 0;
};

// The latest `limit` runs, latest first.
std::expected<std::vector<RunSummary>, std::string> latest_runs(Database& db, std::int64_t limit);

// The run named by `id` or by a prefix of it that names no other run.
std::expected<RunSummary, std::string> find_run(Database& db, std::string_view id);

struct StoredAttempt {
  // An attempt as the history holds it, with its run's id and build.
  std::string run_id;
  std::string build_id;
  std::string test;
  std::int64_t try_number = 1;
  std::optional<std::int64_t> card;
  std::string host;
  Micros started = 0;
  Micros duration = 0;
  std::optional<Micros> card_wait;
  std::string outcome;
  std::string message;
  std::string measurements;
};

// Every attempt of `run_id`, in the order they started.
std::expected<std::vector<StoredAttempt>, std::string> attempts_of_run(Database& db, std::string_view run_id);

// Hands every attempt in the history to `sink`, run by run in the order the
// runs started.
std::expected<void, std::string> each_attempt(Database& db, const std::function<void(const StoredAttempt&)>& sink);

struct Tally {
  // Attempts and how many of them did not pass.
  std::int64_t attempts = 0;
  std::int64_t failures = 0;
};

struct FlakyTest {
  // A test that both failed and passed on one build, with its failure rate
  // on each host and card it ran on (no card: -1).
  std::string test;
  std::string build_id;
  Tally total;
  std::map<std::pair<std::string, std::int64_t>, Tally> by_host_card;
};

// The flaky tests among the attempts that started at `since` or later, the
// highest failure rate first.
std::expected<std::vector<FlakyTest>, std::string> flaky_tests(Database& db, Micros since);

struct CardFailures {
  // One host's card against the other cards of the history.
  std::string host;
  std::int64_t card = 0;
  Tally own;
  Tally others;
};

// Every host × card that attempts ran on since `since`, by host and card.
std::expected<std::vector<CardFailures>, std::string> card_failures(Database& db, Micros since);

struct Unfinished {
  // A test of a run that did not pass: its last try's failure, or none when
  // it never ended.
  std::string test;
  std::optional<StoredAttempt> last_try;
};

// What did not pass in `run`: its failed tests and the planned ones that
// never ended, in table order of the run's plan.
std::expected<std::vector<Unfinished>, std::string> not_passed(Database& db, const RunSummary& run);

// The latest run of `build_id`, if the history holds one.
std::expected<std::optional<RunSummary>, std::string> latest_run_of_build(Database& db, std::string_view build_id);

// Each of `tests`' duration in its most recent attempt, for the tests that
// have one.
std::expected<std::map<std::string, Micros>, std::string> recent_durations(Database& db,
                                                                           const std::vector<std::string>& tests);

// How many of a build's latest runs on a host count as recent for a card's
// verdict: enough that most tests have passed on some other card of the
// host, few enough that what a card did long ago does not count.
inline constexpr std::int64_t CARD_VERDICT_RUNS = 10;

// For each test, the cards of `host` it passed on in the latest `runs` runs
// of `build_id` on that host, in number order.
std::expected<std::map<std::string, std::vector<std::int64_t>, std::less<>>, std::string> recent_card_passes(
    Database& db, std::string_view build_id, std::string_view host, std::int64_t runs);

struct StoredVerdict {
  // A card's latest recorded verdict, the run that gave it and when.
  std::string host;
  std::int64_t card = 0;
  std::string verdict;
  std::string evidence;  // JSON array of {test, passed_on}
  std::string run_id;
  Micros started = 0;
};

// Each host × card's verdict in the latest run that judged it, by host and
// card.
std::expected<std::vector<StoredVerdict>, std::string> latest_card_verdicts(Database& db);

// The latest `limit` attempts of `test` that carry a cycle summary, latest
// last.
std::expected<std::vector<StoredAttempt>, std::string> cycle_attempts(Database& db, std::string_view test,
                                                                      std::int64_t limit);

}  // namespace zlu_history
