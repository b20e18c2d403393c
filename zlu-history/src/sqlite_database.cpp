#include "sqlite_database.hpp"

#include <sqlite3.h>

#include <chrono>
#include <thread>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

namespace zlu_history {

namespace {

// How long a writer waits for another process's write to end. Attempt rows
// take microseconds each, so only a schema migration or a long reader of the
// tool comes near it.
constexpr int BUSY_TIMEOUT_MS = 30'000;

struct Prepared {
  // A statement and, per parameter $1, $2, ..., its SQLite slot.
  sqlite3_stmt* statement = nullptr;
  std::vector<int> slots;
};

class SqliteDatabase : public Database {
 public:
  explicit SqliteDatabase(sqlite3* db) : db_(db) {}
  ~SqliteDatabase() override {
    for (auto& [sql, prepared] : statements_) sqlite3_finalize(prepared.statement);
    sqlite3_close_v2(db_);
  }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  Dialect dialect() const override { return Dialect::Sqlite; }

  std::expected<void, std::string> execute(std::string_view script) override {
    char* message = nullptr;
    if (sqlite3_exec(db_, std::string(script).c_str(), nullptr, nullptr, &message) == SQLITE_OK) return {};
    std::string error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return std::unexpected(error);
  }

  std::expected<void, std::string> query(std::string_view sql, std::span<const Param> params,
                                         const RowSink& sink) override {
    auto prepared = prepare(sql);
    if (!prepared) return std::unexpected(prepared.error());
    sqlite3_stmt* statement = (*prepared)->statement;
    const auto& slots = (*prepared)->slots;
    if (params.size() != slots.size())
      return std::unexpected(fmt::format("statement takes {} parameters, given {}", slots.size(), params.size()));
    for (std::size_t i = 0; i < params.size(); ++i) bind(statement, slots[i], params[i]);
    std::vector<std::optional<std::string_view>> cells(static_cast<std::size_t>(sqlite3_column_count(statement)));
    int status = SQLITE_OK;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
      for (std::size_t column = 0; column < cells.size(); ++column) {
        const int index = static_cast<int>(column);
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        cells[column] = text == nullptr ? std::nullopt
                                        : std::optional<std::string_view>(std::string_view(
                                              text, static_cast<std::size_t>(sqlite3_column_bytes(statement, index))));
      }
      sink(cells);
    }
    std::expected<void, std::string> result;
    if (status != SQLITE_DONE) result = std::unexpected(std::string(sqlite3_errmsg(db_)));
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return result;
  }

 private:
  std::expected<Prepared*, std::string> prepare(std::string_view sql) {
    std::string key(sql);
    if (auto found = statements_.find(key); found != statements_.end()) return &found->second;
    Prepared prepared;
    if (sqlite3_prepare_v3(db_, key.c_str(), static_cast<int>(key.size()), SQLITE_PREPARE_PERSISTENT,
                           &prepared.statement, nullptr) != SQLITE_OK)
      return std::unexpected(std::string(sqlite3_errmsg(db_)));
    const int count = sqlite3_bind_parameter_count(prepared.statement);
    for (int number = 1; number <= count; ++number) {
      const int slot = sqlite3_bind_parameter_index(prepared.statement, fmt::format("${}", number).c_str());
      if (slot == 0) {
        sqlite3_finalize(prepared.statement);
        return std::unexpected(fmt::format("statement lacks parameter ${}", number));
      }
      prepared.slots.push_back(slot);
    }
    return &statements_.emplace(std::move(key), std::move(prepared)).first->second;
  }

  static void bind(sqlite3_stmt* statement, int slot, const Param& param) {
    if (const auto* integer = std::get_if<std::int64_t>(&param)) {
      sqlite3_bind_int64(statement, slot, *integer);
    } else if (const auto* text = std::get_if<std::string_view>(&param)) {
      // An empty view may have no data at all, which SQLite would bind as NULL.
      const char* bytes = text->data() != nullptr ? text->data() : "";
      sqlite3_bind_text64(statement, slot, bytes, text->size(), SQLITE_STATIC, SQLITE_UTF8);
    } else {
      sqlite3_bind_null(statement, slot);
    }
  }

  sqlite3* db_;
  std::unordered_map<std::string, Prepared> statements_;
};

// Switches `handle` to the write-ahead log. The switch takes the file for
// itself for a moment, and the busy time-out does not cover it, so a suite
// that starts while another switches tries again.
std::expected<void, std::string> use_write_ahead_log(sqlite3* handle) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(BUSY_TIMEOUT_MS);
  for (;;) {
    const int status =
        sqlite3_exec(handle, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    if (status == SQLITE_OK) return {};
    if ((status & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline)
      return std::unexpected(std::string(sqlite3_errmsg(handle)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

std::expected<std::unique_ptr<Database>, std::string> open_sqlite(const std::filesystem::path& path,
                                                                  CreateFile create) {
  sqlite3* handle = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create == CreateFile::Yes) flags |= SQLITE_OPEN_CREATE;
  const int status = sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
  if (status != SQLITE_OK) {
    std::string error = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(status);
    sqlite3_close_v2(handle);
    return std::unexpected(error);
  }
  sqlite3_extended_result_codes(handle, 1);
  sqlite3_busy_timeout(handle, BUSY_TIMEOUT_MS);
  auto db = std::make_unique<SqliteDatabase>(handle);
  // A suite's run is short, and a checkpoint when it closes would cost it a
  // file sync or two each time: the log is left for the next writer, which
  // checkpoints once the log has grown (SQLite's automatic checkpoint).
  sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // The log mode stays with the file, so a reader leaves it as the writers set it.
  if (create == CreateFile::Yes) {
    if (auto wal = use_write_ahead_log(handle); !wal) return std::unexpected(wal.error());
  }
  return db;
}

}  // namespace zlu_history
