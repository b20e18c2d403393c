// runs, show and failures: what the recorded runs did.

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-history/src/queries.hpp"

namespace zlu_e2e {

namespace {

using zlu_history::RunSummary;

constexpr std::int64_t DEFAULT_RUN_LIMIT = 20;
// Enough of a run id to tell runs apart by eye; `show` takes it back.
constexpr std::size_t SHORT_ID = 12;

nlohmann::json run_json(const RunSummary& run) {
  return {{"run_id", run.run_id},       {"started_us", run.started},
          {"ended_us", optional_json(run.ended)}, {"exit_status", optional_json(run.exit_status)},
          {"host", run.host},           {"build_id", run.build_id},
          {"task", run.task},           {"partition", run.partition},
          {"attempts", run.attempts},   {"passed", run.passed},
          {"failed", run.failed},       {"flaky", run.flaky},
          {"not_finished", run.not_finished}};
}

std::string run_status(const RunSummary& run) {
  if (!run.ended) return "unfinished";
  return fmt::format("exit {}", run.exit_status.value_or(0));
}

std::string first_line(std::string_view text) { return std::string(text.substr(0, text.find('\n'))); }

}  // namespace

int run_runs(const Invocation& invocation) {
  const auto limit = limit_option(invocation.args, DEFAULT_RUN_LIMIT, "runs");
  if (!limit) return usage_error(limit.error());
  auto db = open_history(invocation);
  if (!db) return db.error();
  auto runs = zlu_history::latest_runs(**db, *limit);
  if (!runs) return store_error(fmt::format("history {}: {}", *invocation.history, runs.error()));
  if (invocation.json) {
    auto list = nlohmann::json::array();
    for (const auto& run : *runs) list.push_back(run_json(run));
    return write_json(list);
  }
  std::string text = fmt::format("{:<12}  {:<19}  {:<16}  {:>6}  {:>6}  {:>5}  {:>9}  {}\n", "RUN", "STARTED", "HOST",
                                 "PASSED", "FAILED", "FLAKY", "NOT ENDED", "STATUS");
  for (const auto& run : *runs) {
    text += fmt::format("{:<12}  {:<19}  {:<16}  {:>6}  {:>6}  {:>5}  {:>9}  {}\n", run.run_id.substr(0, SHORT_ID),
                        format_time(run.started), run.host, run.passed, run.failed, run.flaky, run.not_finished,
                        run_status(run));
  }
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

int run_show(const Invocation& invocation) {
  if (invocation.args.size() != 1) return usage_error("show takes one RUN");
  auto db = open_history(invocation);
  if (!db) return db.error();
  auto run = zlu_history::find_run(**db, invocation.args[0]);
  if (!run) return store_error(fmt::format("history {}: {}", *invocation.history, run.error()));
  auto attempts = zlu_history::attempts_of_run(**db, run->run_id);
  if (!attempts) return store_error(fmt::format("history {}: {}", *invocation.history, attempts.error()));
  if (invocation.json) {
    auto value = run_json(*run);
    value["attempts"] = nlohmann::json::array();
    for (const auto& attempt : *attempts) value["attempts"].push_back(attempt_json(attempt));
    return write_json(value);
  }
  std::string text = fmt::format("run {} on {}, build {}, started {}, {}\n", run->run_id, run->host, run->build_id,
                                 format_time(run->started), run_status(*run));
  if (!run->task.empty()) text += fmt::format("task {}\n", run->task);
  for (const auto& attempt : *attempts) {
    const std::string card = attempt.card ? fmt::format("card {}", *attempt.card) : std::string("no card");
    text += fmt::format("{:<9}  {}  try {}  {}  {}", attempt.outcome, attempt.test, attempt.try_number, card,
                        format_duration(attempt.duration));
    text += attempt.message.empty() ? "\n" : fmt::format("  {}\n", first_line(attempt.message));
  }
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

int run_failures(const Invocation& invocation) {
  if (!invocation.args.empty()) return usage_error("failures takes no arguments");
  auto db = open_history(invocation);
  if (!db) return db.error();
  auto runs = zlu_history::latest_runs(**db, 1);
  if (!runs) return store_error(fmt::format("history {}: {}", *invocation.history, runs.error()));
  if (runs->empty()) return store_error(fmt::format("history {}: holds no recorded run", *invocation.history));
  auto failed = zlu_history::not_passed(**db, runs->front());
  if (!failed) return store_error(fmt::format("history {}: {}", *invocation.history, failed.error()));
  if (invocation.json) {
    auto list = nlohmann::json::array();
    for (const auto& test : *failed) {
      list.push_back({{"test", test.test},
                      {"last_try", test.last_try ? attempt_json(*test.last_try) : nlohmann::json(nullptr)}});
    }
    return write_json({{"run_id", runs->front().run_id}, {"tests", list}});
  }
  std::string text = fmt::format("run {} ({}): {} did not pass\n", runs->front().run_id,
                                 format_time(runs->front().started), failed->size());
  for (const auto& test : *failed) {
    if (!test.last_try) {
      text += fmt::format("never ended  {}\n", test.test);
      continue;
    }
    const auto& last = *test.last_try;
    text += fmt::format("{:<11}  {}  (try {}{})  {}\n", last.outcome, test.test, last.try_number,
                        last.card ? fmt::format(", card {}", *last.card) : std::string(), first_line(last.message));
  }
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
