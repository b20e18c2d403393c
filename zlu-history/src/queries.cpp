#include "queries.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <set>
#include <unordered_map>

#include <fmt/format.h>

namespace zlu_history {

namespace {

constexpr std::string_view RUN_COLUMNS =
    "SELECT r.run_id, r.started_us, r.ended_us, r.exit_status, r.host, r.build_id, r.task, r.partition_spec, "
    "r.planned, "
    "(SELECT count(*) FROM attempts a WHERE a.run_key = r.run_key), "
    "(SELECT count(DISTINCT a.test) FROM attempts a WHERE a.run_key = r.run_key), "
    "(SELECT count(DISTINCT a.test) FROM attempts a WHERE a.run_key = r.run_key AND a.outcome = 'passed'), "
    "(SELECT count(DISTINCT a.test) FROM attempts a WHERE a.run_key = r.run_key AND a.outcome <> 'passed') "
    "FROM runs r ";

// One statement from its parts. (Appending into one reserved string, rather
// than adding strings, also spares GCC 12 a false out-of-bounds warning.)
std::string statement(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (const auto part : parts) size += part.size();
  std::string text;
  text.reserve(size);
  for (const auto part : parts) text.append(part);
  return text;
}

std::optional<std::int64_t> optional_integer(std::optional<std::string_view> cell) {
  if (!cell) return std::nullopt;
  return integer_cell(cell);
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

RunSummary run_of_row(Row row) {
  RunSummary run{.run_id = text_cell(row[0]),
                 .started = integer_cell(row[1]),
                 .ended = optional_integer(row[2]),
                 .exit_status = optional_integer(row[3]),
                 .host = text_cell(row[4]),
                 .build_id = text_cell(row[5]),
                 .task = text_cell(row[6]),
                 .partition = text_cell(row[7]),
                 .planned = lines_of(row[8].value_or(""))};
  run.attempts = integer_cell(row[9]);
  const std::int64_t tests = integer_cell(row[10]);
  run.passed = integer_cell(row[11]);
  const std::int64_t with_failure = integer_cell(row[12]);
  run.failed = tests - run.passed;
  run.flaky = run.passed + with_failure - tests;
  run.not_finished = std::max<std::int64_t>(0, static_cast<std::int64_t>(run.planned.size()) - tests);
  return run;
}

std::expected<std::vector<RunSummary>, std::string> runs_where(Database& db, std::string_view condition,
                                                               std::span<const Param> params) {
  std::vector<RunSummary> runs;
  auto done = db.query(statement({RUN_COLUMNS, condition}), params,
                       [&](Row row) { runs.push_back(run_of_row(row)); });
  if (!done) return std::unexpected(done.error());
  return runs;
}

constexpr std::string_view ATTEMPT_COLUMNS =
    "SELECT r.run_id, r.build_id, a.test, a.try_number, a.card, a.host, a.started_us, a.duration_us, "
    "a.card_wait_us, a.outcome, a.message, a.measurements FROM attempts a JOIN runs r ON r.run_key = a.run_key ";

StoredAttempt attempt_of_row(Row row) {
  return StoredAttempt{.run_id = text_cell(row[0]),
                       .build_id = text_cell(row[1]),
                       .test = text_cell(row[2]),
                       .try_number = integer_cell(row[3]),
                       .card = optional_integer(row[4]),
                       .host = text_cell(row[5]),
                       .started = integer_cell(row[6]),
                       .duration = integer_cell(row[7]),
                       .card_wait = optional_integer(row[8]),
                       .outcome = text_cell(row[9]),
                       .message = text_cell(row[10]),
                       .measurements = text_cell(row[11])};
}

// Each series' attempts and failures since $1, counted in the order of its
// index; the caller joins the series for their names.
constexpr std::string_view SERIES_TALLIES =
    "(SELECT series_key, count(*) AS attempts, sum(CASE WHEN outcome = 'passed' THEN 0 ELSE 1 END) AS failures "
    "FROM attempts WHERE started_us >= $1 GROUP BY series_key)";

double failure_rate(const Tally& tally) {
  return tally.attempts == 0 ? 0.0 : static_cast<double>(tally.failures) / static_cast<double>(tally.attempts);
}

}  // namespace

std::expected<std::vector<RunSummary>, std::string> latest_runs(Database& db, std::int64_t limit) {
  const Param count = limit;
  return runs_where(db, "ORDER BY r.started_us DESC, r.run_key DESC LIMIT $1", std::span(&count, 1));
}

std::expected<RunSummary, std::string> find_run(Database& db, std::string_view id) {
  if (id.empty()) return std::unexpected(std::string("an empty run id names no run"));
  const Param prefix = id;
  auto runs = runs_where(db,
                         "WHERE substr(r.run_id, 1, length(CAST($1 AS TEXT))) = CAST($1 AS TEXT) "
                         "ORDER BY CASE WHEN r.run_id = CAST($1 AS TEXT) THEN 0 ELSE 1 END, r.started_us DESC "
                         "LIMIT 2",
                         std::span(&prefix, 1));
  if (!runs) return std::unexpected(runs.error());
  for (const auto& run : *runs) {
    if (run.run_id == id) return run;
  }
  if (runs->empty()) return std::unexpected(fmt::format("no run {}", id));
  if (runs->size() > 1) return std::unexpected(fmt::format("run id {} names more than one run", id));
  return runs->front();
}

std::expected<std::vector<StoredAttempt>, std::string> attempts_of_run(Database& db, std::string_view run_id) {
  const Param id = run_id;
  std::vector<StoredAttempt> attempts;
  auto done = db.query(statement({ATTEMPT_COLUMNS, "WHERE r.run_id = $1 ORDER BY a.started_us, a.test, a.try_number"}),
                       std::span(&id, 1), [&](Row row) { attempts.push_back(attempt_of_row(row)); });
  if (!done) return std::unexpected(done.error());
  return attempts;
}

std::expected<void, std::string> each_attempt(Database& db, const std::function<void(const StoredAttempt&)>& sink) {
  return db.query(statement({ATTEMPT_COLUMNS, "ORDER BY r.started_us, r.run_key, a.started_us, a.test, a.try_number"}),
                  {}, [&](Row row) { sink(attempt_of_row(row)); });
}

std::expected<std::vector<FlakyTest>, std::string> flaky_tests(Database& db, Micros since) {
  const Param from = since;
  std::map<std::pair<std::string, std::string>, FlakyTest> tests;
  auto done = db.query(
      statement({"SELECT s.build_id, s.test, s.host, s.card, t.attempts, t.failures FROM ", SERIES_TALLIES,
                 " t JOIN series s ON s.series_key = t.series_key"}),
      std::span(&from, 1), [&](Row row) {
        auto& test = tests[{text_cell(row[0]), text_cell(row[1])}];
        const Tally tally{integer_cell(row[4]), integer_cell(row[5])};
        test.by_host_card[{text_cell(row[2]), integer_cell(row[3])}] = tally;
        test.total.attempts += tally.attempts;
        test.total.failures += tally.failures;
      });
  if (!done) return std::unexpected(done.error());
  std::vector<FlakyTest> flaky;
  for (auto& [key, test] : tests) {
    if (test.total.failures == 0 || test.total.failures == test.total.attempts) continue;
    test.build_id = key.first;
    test.test = key.second;
    flaky.push_back(std::move(test));
  }
  std::ranges::stable_sort(flaky, [](const FlakyTest& a, const FlakyTest& b) {
    return failure_rate(a.total) > failure_rate(b.total);
  });
  return flaky;
}

std::expected<std::vector<CardFailures>, std::string> card_failures(Database& db, Micros since) {
  const Param from = since;
  std::vector<CardFailures> cards;
  Tally everything;
  auto done = db.query(
      statement({"SELECT s.host, s.card, sum(t.attempts), sum(t.failures) FROM ", SERIES_TALLIES,
                 " t JOIN series s ON s.series_key = t.series_key WHERE s.card <> -1 GROUP BY s.host, s.card "
                 "ORDER BY s.host, s.card"}),
      std::span(&from, 1), [&](Row row) {
        CardFailures card{.host = text_cell(row[0]),
                          .card = integer_cell(row[1]),
                          .own = Tally{integer_cell(row[2]), integer_cell(row[3])},
                          .others = {}};
        everything.attempts += card.own.attempts;
        everything.failures += card.own.failures;
        cards.push_back(std::move(card));
      });
  if (!done) return std::unexpected(done.error());
  for (auto& card : cards)
    card.others = Tally{everything.attempts - card.own.attempts, everything.failures - card.own.failures};
  return cards;
}

std::expected<std::vector<Unfinished>, std::string> not_passed(Database& db, const RunSummary& run) {
  auto attempts = attempts_of_run(db, run.run_id);
  if (!attempts) return std::unexpected(attempts.error());
  std::set<std::string> passed;
  std::unordered_map<std::string, StoredAttempt> last_try;
  for (auto& attempt : *attempts) {
    if (attempt.outcome == "passed") passed.insert(attempt.test);
    auto& last = last_try[attempt.test];
    if (attempt.try_number >= last.try_number) last = attempt;
  }
  std::vector<Unfinished> result;
  std::set<std::string> listed;
  auto add = [&](const std::string& test) {
    if (passed.contains(test) || !listed.insert(test).second) return;
    auto found = last_try.find(test);
    result.push_back({test, found == last_try.end() ? std::nullopt : std::optional(found->second)});
  };
  for (const auto& test : run.planned) add(test);
  for (const auto& attempt : *attempts) add(attempt.test);
  return result;
}

std::expected<std::optional<RunSummary>, std::string> latest_run_of_build(Database& db, std::string_view build_id) {
  const Param build = build_id;
  auto runs = runs_where(db, "WHERE r.build_id = $1 ORDER BY r.started_us DESC, r.run_key DESC LIMIT 1",
                         std::span(&build, 1));
  if (!runs) return std::unexpected(runs.error());
  if (runs->empty()) return std::nullopt;
  return runs->front();
}

std::expected<std::map<std::string, Micros>, std::string> recent_durations(Database& db,
                                                                           const std::vector<std::string>& tests) {
  // A passing try's duration is the test's whole length; a failing one may
  // have stopped early, so it counts only for a test that never passed.
  constexpr std::array<std::string_view, 2> QUERIES = {
      "SELECT duration_us FROM attempts WHERE test = $1 AND outcome = 'passed' ORDER BY started_us DESC LIMIT 1",
      "SELECT duration_us FROM attempts WHERE test = $1 ORDER BY started_us DESC LIMIT 1"};
  std::map<std::string, Micros> durations;
  for (const auto& test : tests) {
    const Param name = test;
    for (const auto sql : QUERIES) {
      auto found = query_integers(db, sql, std::span(&name, 1));
      if (!found) return std::unexpected(found.error());
      if (!found->empty()) {
        durations[test] = found->front();
        break;
      }
    }
  }
  return durations;
}

std::expected<std::vector<StoredAttempt>, std::string> cycle_attempts(Database& db, std::string_view test,
                                                                      std::int64_t limit) {
  const std::array<Param, 2> params = {Param(test), Param(limit)};
  std::vector<StoredAttempt> attempts;
  // The summary is the only measurement written under the key "cycles".
  auto done = db.query(statement({ATTEMPT_COLUMNS,
                                  "WHERE a.test = $1 AND a.measurements LIKE '%\"cycles\":%' "
                                  "ORDER BY a.started_us DESC, a.try_number DESC LIMIT $2"}),
                       params, [&](Row row) { attempts.push_back(attempt_of_row(row)); });
  if (!done) return std::unexpected(done.error());
  std::ranges::reverse(attempts);
  return attempts;
}

std::expected<std::map<std::string, std::vector<std::int64_t>, std::less<>>, std::string> recent_card_passes(
    Database& db, std::string_view build_id, std::string_view host, std::int64_t runs) {
  const std::array<Param, 3> params = {Param(build_id), Param(host), Param(runs)};
  std::map<std::string, std::vector<std::int64_t>, std::less<>> passes;
  auto done = db.query(
      "SELECT DISTINCT a.test, a.card FROM attempts a "
      "WHERE a.outcome = 'passed' AND a.card IS NOT NULL "
      "AND a.run_key IN (SELECT run_key FROM runs WHERE build_id = $1 AND host = $2 "
      "ORDER BY started_us DESC, run_key DESC LIMIT $3) "
      "ORDER BY a.test, a.card",
      params, [&](Row row) { passes[text_cell(row[0])].push_back(integer_cell(row[1])); });
  if (!done) return std::unexpected(done.error());
  return passes;
}

std::expected<std::vector<StoredVerdict>, std::string> latest_card_verdicts(Database& db) {
  std::vector<StoredVerdict> verdicts;
  auto done = db.query(
      "SELECT v.host, v.card, v.verdict, v.evidence, r.run_id, r.started_us FROM card_verdicts v "
      "JOIN runs r ON r.run_key = v.run_key "
      "WHERE v.run_key = (SELECT max(w.run_key) FROM card_verdicts w WHERE w.host = v.host AND w.card = v.card) "
      "ORDER BY v.host, v.card",
      {}, [&](Row row) {
        verdicts.push_back({text_cell(row[0]), integer_cell(row[1]), text_cell(row[2]), text_cell(row[3]),
                            text_cell(row[4]), integer_cell(row[5])});
      });
  if (!done) return std::unexpected(done.error());
  return verdicts;
}

}  // namespace zlu_history
