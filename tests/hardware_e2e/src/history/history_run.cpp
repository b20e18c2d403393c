#include "history/history_run.hpp"

#include <algorithm>
#include <chrono>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "harness/src/run/outcome.hpp"
#include "harness/src/run/card_health.hpp"
#include "zlu-base/src/fd.hpp"
#include "zlu-history/src/queries.hpp"
#include "zlu-history/src/run_identity.hpp"

namespace hardware_e2e {

namespace {

using zlu_history::Micros;

Micros micros(harness::WallClock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

Micros micros(std::chrono::nanoseconds span) {
  return std::chrono::duration_cast<std::chrono::microseconds>(span).count();
}

// Every kind is named, so that a new kind of ending cannot be recorded as a
// pass by default.
zlu_history::Outcome recorded_outcome(const harness::TestResult& result) {
  switch (result.kind) {
    case harness::TestResult::Kind::Failed:
    case harness::TestResult::Kind::FailedWithNote:
    case harness::TestResult::Kind::CycleRegression: return zlu_history::Outcome::Failed;
    case harness::TestResult::Kind::TimeLimitExceeded: return zlu_history::Outcome::TimedOut;
    case harness::TestResult::Kind::Ok:
    case harness::TestResult::Kind::Ignored:
    case harness::TestResult::Kind::Bench: return zlu_history::Outcome::Passed;
  }
  return zlu_history::Outcome::Failed;
}

// The measurements as one JSON object, keyed by kind.
std::string measurements_json(const harness::Measurements& measurements) {
  nlohmann::json object = nlohmann::json::object();
  for (const auto& measurement : measurements) {
    if (const auto* card = std::get_if<harness::CardUse>(&measurement)) {
      object["card"] = {{"card", card->card}, {"wait_us", micros(card->wait)}};
    } else if (const auto* cycles = std::get_if<harness::CycleSummary>(&measurement)) {
      object["cycles"] = {{"by_kind", cycles->cycles_by_kind},
                          {"span", cycles->span},
                          {"busiest_tile", cycles->busiest_tile},
                          {"busiest_tile_cycles", cycles->busiest_tile_cycles}};
    }
  }
  return object.dump();
}

std::string setting(const zlu_base::EnvLookup& env, std::string_view name) { return env(name).value_or(""); }

// A card's evidence as the history keeps it: a JSON array of {test,
// passed_on}, with "recent" for a pass in a recent run.
std::string evidence_json(const harness::CardVerdict& verdict) {
  auto evidence = nlohmann::json::array();
  for (const auto& item : verdict.evidence) {
    nlohmann::json entry = {{"test", item.test}, {"passed_on", item.passed_on}};
    if (item.recent) entry["recent"] = true;
    evidence.push_back(std::move(entry));
  }
  return evidence.dump();
}

}  // namespace

std::expected<HistorySettings, std::string> read_history_settings(const zlu_base::EnvLookup& env) {
  HistorySettings settings;
  if (auto value = env(zlu_history::HISTORY_VARIABLE)) {
    auto location = zlu_history::parse_location(*value, zlu_history::HISTORY_VARIABLE);
    if (!location) return std::unexpected(location.error());
    settings.store = std::move(*location);
  }
  if (auto value = env(RERUN_VARIABLE)) {
    if (*value != "failed")
      return std::unexpected(fmt::format("{}={}: expected `failed` (the tests that did not pass in the latest run)",
                                         RERUN_VARIABLE, *value));
    if (!settings.store)
      return std::unexpected(fmt::format("{}={}: needs a history to read the latest run from ({})", RERUN_VARIABLE,
                                         *value, zlu_history::HISTORY_VARIABLE));
    settings.rerun_failed = true;
  }
  return settings;
}

RunFacts run_facts(std::span<const std::string> args, const zlu_base::EnvLookup& env) {
  RunFacts facts;
  if (!args.empty()) facts.arguments.assign(args.begin() + 1, args.end());
  facts.host = zlu_history::host_name(env);
  facts.build_id = zlu_history::executable_build_id();
  facts.partition = setting(env, "ZLU_TEST_PARTITION");
  facts.cards = setting(env, "ZLU_TEST_CARDS");
  facts.task = zlu_history::batch_task(env);
  return facts;
}

HistoryRun::HistoryRun(zlu_history::StoreLocation store, bool rerun_failed, RunFacts facts)
    : store_(std::move(store)), rerun_failed_(rerun_failed), facts_(std::move(facts)) {}

std::expected<void, std::string> HistoryRun::plan(std::vector<harness::TestDescAndFn>& tests,
                                                  const harness::RunPlan& plan) {
  retries_ = plan.retries;
  auto db = zlu_history::open_store(store_, zlu_history::Purpose::Record);
  if (!db) {
    if (rerun_failed_) return std::unexpected(fmt::format("{}=failed: {}", RERUN_VARIABLE, db.error()));
    give_up("the run is not recorded", db.error());
  } else {
    db_ = std::move(*db);
  }
  if (rerun_failed_) {
    if (auto kept = keep_failures_of_latest_run(tests); !kept) return kept;
  }
  if (db_ && plan.workers > 1 && !plan.shuffled) put_longest_first(tests);
  if (db_ && plan.card_health != nullptr) read_recent_passes(*plan.card_health);
  for (const auto& test : tests) {
    if (!test.desc.ignore) planned_.emplace_back(test.desc.name);
  }
  return {};
}

std::expected<void, std::string> HistoryRun::keep_failures_of_latest_run(std::vector<harness::TestDescAndFn>& tests) {
  auto latest = zlu_history::latest_run_of_build(*db_, facts_.build_id);
  const auto refused = [&](std::string_view why) {
    return std::unexpected(fmt::format("{}=failed: history {}: {}", RERUN_VARIABLE, store_.text, why));
  };
  if (!latest) return refused(latest.error());
  if (!*latest)
    return refused(fmt::format("holds no run of this build ({})", facts_.build_id));
  auto failed = zlu_history::not_passed(*db_, **latest);
  if (!failed) return refused(failed.error());
  std::erase_if(tests, [&](const harness::TestDescAndFn& test) {
    return std::ranges::none_of(*failed, [&](const auto& unfinished) { return unfinished.test == test.desc.name; });
  });
  return {};
}

void HistoryRun::put_longest_first(std::vector<harness::TestDescAndFn>& tests) {
  std::vector<std::string> names;
  for (const auto& test : tests) names.emplace_back(test.desc.name);
  auto durations = zlu_history::recent_durations(*db_, names);
  // Without durations the order stays the table's; the run is recorded all the same.
  if (!durations) return;
  const auto duration_of = [&](const harness::TestDescAndFn& test) -> Micros {
    auto found = durations->find(std::string(test.desc.name));
    return found == durations->end() ? -1 : found->second;
  };
  std::ranges::stable_sort(tests, std::ranges::greater(), duration_of);
}

void HistoryRun::run_started(const std::string& run_id, harness::WallClock::time_point started) {
  if (!db_) return;
  zlu_history::RunRecord run{.run_id = run_id,
                             .started = micros(started),
                             .host = facts_.host,
                             .build_id = facts_.build_id,
                             .arguments = facts_.arguments,
                             .partition = facts_.partition,
                             .cards = facts_.cards,
                             .retries = static_cast<std::int64_t>(retries_),
                             .task = facts_.task,
                             .planned = planned_};
  auto writer = zlu_history::RunWriter::begin(std::move(db_), run);
  if (!writer) return give_up("the run is not recorded", writer.error());
  writer_.emplace(std::move(*writer));
}

void HistoryRun::attempt_ended(std::string_view test, std::size_t try_number, const harness::Attempt& attempt) {
  if (!writer_ || attempt.result.kind == harness::TestResult::Kind::Ignored) return;
  const auto card = attempt.card();
  const std::string measurements = measurements_json(attempt.measurements);
  // The message the reports give: a note (a regression's changes) before the
  // body's own failure, and a failure of a kind of its own named by its kind.
  const harness::Outcome outcome = harness::outcome_of(attempt.result);
  std::string_view message = harness::failure_message_of(attempt, outcome);
  if (message.empty()) message = outcome.reason;
  const zlu_history::AttemptRecord record{
      .test = test,
      .try_number = static_cast<std::int64_t>(try_number),
      .card = card ? std::optional<std::int64_t>(card->card) : std::nullopt,
      .started = micros(attempt.started),
      .duration = micros(attempt.ended - attempt.started),
      .card_wait = card ? std::optional<Micros>(micros(card->wait)) : std::nullopt,
      .outcome = recorded_outcome(attempt.result),
      .message = message,
      .measurements = measurements};
  if (auto written = writer_->record(record); !written)
    give_up("the run's further attempts are not recorded", written.error());
}

void HistoryRun::read_recent_passes(harness::CardHealthWatch& watch) {
  auto passes =
      zlu_history::recent_card_passes(*db_, facts_.build_id, facts_.host, zlu_history::CARD_VERDICT_RUNS);
  if (!passes) return give_up("the run is not recorded", passes.error());
  for (auto& [test, cards] : *passes) {
    auto& into = watch.recent_passes[test];
    for (const auto card : cards) into.push_back(static_cast<unsigned>(card));
  }
}

void HistoryRun::cards_judged(std::span<const harness::CardVerdict> verdicts) {
  if (!writer_) return;
  std::vector<std::string> evidence;
  for (const auto& verdict : verdicts) evidence.push_back(evidence_json(verdict));
  std::vector<zlu_history::CardVerdictRecord> records;
  for (std::size_t i = 0; i < verdicts.size(); ++i)
    records.push_back({verdicts[i].card, harness::card_verdict_word(verdicts[i]), evidence[i]});
  if (auto written = writer_->record_verdicts(records); !written)
    give_up("the cards' verdicts are not recorded", written.error());
}

void HistoryRun::run_ended(int exit_status) {
  if (!writer_) return;
  const Micros now = micros(harness::WallClock::now());
  if (auto finished = writer_->finish(now, exit_status); !finished)
    give_up("the run's end is not recorded", finished.error());
}

void HistoryRun::give_up(std::string_view what, std::string_view error) {
  writer_.reset();
  db_.reset();
  if (given_up_) return;
  given_up_ = true;
  zlu_base::write_stderr_line(fmt::format("{}={}: {}: {}", zlu_history::HISTORY_VARIABLE, store_.text, what, error));
}

}  // namespace hardware_e2e
