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
  return db;
}

std::expected<RunWriter, std::string> RunWriter::begin(std::unique_ptr<Database> db, const RunRecord& run) {
  auto run_key = insert_run(*db, run);
  if (!run_key) return std::unexpected(run_key.error());
  return RunWriter(std::move(db), *run_key, run.host, run.build_id);
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

std::expected<void, std::string> RunWriter::record(const AttemptRecord& attempt) {
  const auto optional_param = [](const std::optional<std::int64_t>& value) -> Param {
    return value ? Param(*value) : Param(std::monostate{});
  };
  const std::array<Param, 12> params = {run_key_,         build_id_,        attempt.test,
                                        attempt.try_number, optional_param(attempt.card),
                                        host_,            attempt.started,
                                        attempt.duration, optional_param(attempt.card_wait),
                                        outcome_name(attempt.outcome), attempt.message,
                                        attempt.measurements};
  return db_->query(
      "INSERT INTO attempts (run_key, build_id, test, try_number, card, host, started_us, duration_us, card_wait_us, "
      "outcome, message, measurements) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) "
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
