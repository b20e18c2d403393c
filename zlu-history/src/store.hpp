// A history store: opened from its location, its schema made current, and
// the one run of this process written into it as it happens.
#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "database.hpp"
#include "location.hpp"
#include "records.hpp"

namespace zlu_history {

// Why opening is wanted: a suite records and creates the store on first use;
// the tool reads and refuses a store that does not exist or has no history.
// Both bring the schema of an earlier build forward.
enum class Purpose { Record, Read };

// The database at `location`, with its schema current (Record) or checked
// (Read: a missing or newer schema is an error); the error names the store.
std::expected<std::unique_ptr<Database>, std::string> open_store(const StoreLocation& location, Purpose purpose);

// Writes `run` as a run that never ended and recorded no attempt, for a batch
// task that died before it could record itself: its planned tests then read
// as never finished. False, and nothing written, when the history already
// holds a run of `run.task`, so that recording a task again changes nothing.
std::expected<bool, std::string> record_unfinished_run(Database& db, const RunRecord& run);

class RunWriter {
  // Writes one run: its row when it starts, each attempt's row as soon as the
  // attempt ends (each its own transaction, so a killed run keeps every
  // attempt that had ended), and the end. A run without an end is unfinished.
 public:
  // Writes the run's row and returns the writer of its attempts.
  static std::expected<RunWriter, std::string> begin(std::unique_ptr<Database> db, const RunRecord& run);

  // Writes `attempt` of this run's host; writing the same try of the same
  // test again leaves the first row as it was.
  std::expected<void, std::string> record(const AttemptRecord& attempt);

  // Writes the cards' verdicts at the end of this run, in one transaction;
  // writing a card's verdict again leaves the first as it was.
  std::expected<void, std::string> record_verdicts(std::span<const CardVerdictRecord> verdicts);

  // The store, for the questions asked of it while the run is written.
  Database& database() { return *db_; }

  // Marks the run as ended at `ended` with the process's exit status.
  std::expected<void, std::string> finish(Micros ended, int exit_status);

  // Hands the connection back, for a filler of histories (a benchmark, an
  // import) that writes many runs in one transaction.
  std::unique_ptr<Database> release() && { return std::move(db_); }

 private:
  RunWriter(std::unique_ptr<Database> db, std::int64_t run_key, std::string host, std::string build_id)
      : db_(std::move(db)), run_key_(run_key), host_(std::move(host)), build_id_(std::move(build_id)) {}

  // The key of this run's series of `test` on `card` (-1: none): read with
  // the build's other series on this host when the run begins, or written
  // on its first attempt in the history.
  std::expected<std::int64_t, std::string> series_key(std::string_view test, std::int64_t card);

  std::unique_ptr<Database> db_;
  std::int64_t run_key_;
  std::string host_;
  std::string build_id_;
  std::map<std::pair<std::string, std::int64_t>, std::int64_t> series_;
};

}  // namespace zlu_history
