#include "store.hpp"

#include <array>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "postgres_database.hpp"
#include "schema.hpp"
#include "sqlite_database.hpp"

namespace zlu_history {

namespace {

std::string joined_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

std::expected<std::unique_ptr<Database>, std::string> connect(const StoreLocation& location, Purpose purpose) {
  if (location.kind == StoreLocation::Kind::Postgres) return open_postgres(location.text);
  return open_sqlite(location.text, purpose == Purpose::Record ? CreateFile::Yes : CreateFile::No);
}

// Writes the run's row, not yet ended, and returns its key.
std::expected<std::int64_t, std::string> insert_run(Database& db, const RunRecord& run) {
  const std::string arguments = nlohmann::json(run.arguments).dump();
  const std::string planned = joined_lines(run.planned);
  const std::array<Param, 11> params = {run.run_id,    run.started, run.host,     run.build_id,
                                        arguments,     run.partition, run.cards,  run.retries,
                                        run.task,      planned,     std::monostate{}};
  std::int64_t run_key = -1;
  auto inserted = db.query(
      "INSERT INTO runs (run_id, started_us, host, build_id, arguments, partition_spec, cards, retries, task, "
      "planned, ended_us) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11) RETURNING run_key",
      params, [&](Row row) { run_key = integer_cell(row[0]); });
  if (!inserted) return std::unexpected(inserted.error());
  return run_key;
}

}  // namespace

std::string_view outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::Passed: return "passed";
    case Outcome::Failed: return "failed";
    case Outcome::TimedOut: return "timed-out";
  }
  return "failed";
}

std::expected<std::unique_ptr<Database>, std::string> open_store(const StoreLocation& location, Purpose purpose) {
  auto db = connect(location, purpose);
  if (!db) return std::unexpected(fmt::format("history {}: {}", location.text, db.error()));
  if (purpose == Purpose::Record) {
    if (auto migrated = migrate(**db); !migrated)
      return std::unexpected(fmt::format("history {}: {}", location.text, migrated.error()));
    return db;
  }
  auto version = schema_version(**db);
  if (!version) return std::unexpected(fmt::format("history {}: {}", location.text, version.error()));
  if (*version == 0) return std::unexpected(fmt::format("history {}: holds no recorded run", location.text));
  if (*version > current_schema_version())
    return std::unexpected(fmt::format("history {}: schema version {} is newer than this tool's {}", location.text,
                                       *version, current_schema_version()));
  // A history an earlier suite wrote is brought forward as a suite of this
  // build would bring it, so that the tool can read it before such a run.
  if (*version < current_schema_version()) {
    if (auto migrated = migrate(**db); !migrated)
      return std::unexpected(fmt::format("history {}: {}", location.text, migrated.error()));
  }
  return db;
}

std::expected<RunWriter, std::string> RunWriter::begin(std::unique_ptr<Database> db, const RunRecord& run) {
  auto run_key = insert_run(*db, run);
  if (!run_key) return std::unexpected(run_key.error());
  RunWriter writer(std::move(db), *run_key, run.host, run.build_id);
  // The series the build's earlier runs on this host wrote, so that an
  // attempt is one statement unless its series is new.
  const std::array<Param, 2> params = {std::string_view(run.build_id), std::string_view(run.host)};
  auto known = writer.db_->query(
      "SELECT test, card, series_key FROM series WHERE build_id = $1 AND host = $2", params, [&](Row row) {
        writer.series_.emplace(std::pair(text_cell(row[0]), integer_cell(row[1])), integer_cell(row[2]));
      });
  if (!known) return std::unexpected(known.error());
  return writer;
}

std::expected<bool, std::string> record_unfinished_run(Database& db, const RunRecord& run) {
  const Param task = run.task;
  auto runs_of_task = query_integers(db, "SELECT count(*) FROM runs WHERE task = $1", std::span(&task, 1));
  if (!runs_of_task) return std::unexpected(runs_of_task.error());
  if (!runs_of_task->empty() && runs_of_task->front() > 0) return false;
  auto written = insert_run(db, run);
  if (!written) return std::unexpected(written.error());
  return true;
}

std::expected<std::int64_t, std::string> RunWriter::series_key(std::string_view test, std::int64_t card) {
  const auto known = series_.find(std::pair(std::string(test), card));
  if (known != series_.end()) return known->second;
  const std::array<Param, 4> params = {build_id_, test, std::string_view(host_), card};
  constexpr std::string_view FIND =
      "SELECT series_key FROM series WHERE build_id = $1 AND test = $2 AND host = $3 AND card = $4";
  auto found = query_integers(*db_, FIND, params);
  // Another writer may add the series between the two statements; the
  // insert then changes nothing and the second look finds its row.
  if (found && found->empty()) {
    auto added = db_->query(
        "INSERT INTO series (build_id, test, host, card) VALUES ($1, $2, $3, $4) ON CONFLICT DO NOTHING", params,
        [](Row) {});
    if (!added) return std::unexpected(added.error());
    found = query_integers(*db_, FIND, params);
  }
  if (!found) return std::unexpected(found.error());
  if (found->empty()) return std::unexpected(fmt::format("the series of {} on card {} was not written", test, card));
  series_.emplace(std::pair(std::string(test), card), found->front());
  return found->front();
}

std::expected<void, std::string> RunWriter::record(const AttemptRecord& attempt) {
  const auto optional_param = [](const std::optional<std::int64_t>& value) -> Param {
    return value ? Param(*value) : Param(std::monostate{});
  };
  auto series = series_key(attempt.test, attempt.card.value_or(-1));
  if (!series) return std::unexpected(series.error());
  const std::array<Param, 13> params = {run_key_,         build_id_,        attempt.test,
                                        attempt.try_number, optional_param(attempt.card),
                                        host_,            attempt.started,
                                        attempt.duration, optional_param(attempt.card_wait),
                                        outcome_name(attempt.outcome), attempt.message,
                                        attempt.measurements, *series};
  return db_->query(
      "INSERT INTO attempts (run_key, build_id, test, try_number, card, host, started_us, duration_us, card_wait_us, "
      "outcome, message, measurements, series_key) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13) "
      "ON CONFLICT DO NOTHING",
      params, [](Row) {});
}

std::expected<void, std::string> RunWriter::record_verdicts(std::span<const CardVerdictRecord> verdicts) {
  if (auto begun = db_->execute("BEGIN"); !begun) return begun;
  for (const auto& verdict : verdicts) {
    const std::array<Param, 5> params = {run_key_, std::string_view(host_), verdict.card, verdict.verdict,
                                         verdict.evidence};
    auto written = db_->query(
        "INSERT INTO card_verdicts (run_key, host, card, verdict, evidence) VALUES ($1, $2, $3, $4, $5) "
        "ON CONFLICT DO NOTHING",
        params, [](Row) {});
    if (!written) {
      (void)db_->execute("ROLLBACK");
      return written;
    }
  }
  return db_->execute("COMMIT");
}

std::expected<void, std::string> RunWriter::finish(Micros ended, int exit_status) {
  const std::array<Param, 3> params = {ended, std::int64_t{exit_status}, run_key_};
  return db_->query("UPDATE runs SET ended_us = $1, exit_status = $2 WHERE run_key = $3", params, [](Row) {});
}

}  // namespace zlu_history
