#include "postgres_database.hpp"

#include <libpq-fe.h>

#include <unordered_map>
#include <vector>

#include <fmt/format.h>

namespace zlu_history {

namespace {

std::string trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Notices (such as those of a table created again) are the server's chatter,
// not the run's output.
void ignore_notice(void*, const char*) {}

class PostgresDatabase : public Database {
 public:
  explicit PostgresDatabase(PGconn* connection) : connection_(connection) {}
  ~PostgresDatabase() override { PQfinish(connection_); }
  PostgresDatabase(const PostgresDatabase&) = delete;
  PostgresDatabase& operator=(const PostgresDatabase&) = delete;

  Dialect dialect() const override { return Dialect::Postgres; }

  std::expected<void, std::string> execute(std::string_view script) override {
    Result result(PQexec(connection_, std::string(script).c_str()));
    const auto status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return {};
    return std::unexpected(trimmed(PQerrorMessage(connection_)));
  }

  std::expected<void, std::string> query(std::string_view sql, std::span<const Param> params,
                                         const RowSink& sink) override {
    auto name = prepare(sql);
    if (!name) return std::unexpected(name.error());
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (const auto* integer = std::get_if<std::int64_t>(&params[i])) {
        texts[i] = std::to_string(*integer);
        values[i] = texts[i].c_str();
      } else if (const auto* text = std::get_if<std::string_view>(&params[i])) {
        texts[i] = std::string(*text);
        values[i] = texts[i].c_str();
      }
    }
    // One row at a time, so that an export of every attempt is never held whole.
    if (PQsendQueryPrepared(connection_, name->c_str(), static_cast<int>(params.size()), values.data(), nullptr,
                            nullptr, 0) == 0)
      return std::unexpected(trimmed(PQerrorMessage(connection_)));
    PQsetSingleRowMode(connection_);
    std::expected<void, std::string> outcome;
    std::vector<std::optional<std::string_view>> cells;
    while (Result result{PQgetResult(connection_)}) {
      const auto status = PQresultStatus(result.get());
      if (status == PGRES_SINGLE_TUPLE) {
        cells.resize(static_cast<std::size_t>(PQnfields(result.get())));
        for (int column = 0; column < PQnfields(result.get()); ++column) {
          const auto length = static_cast<std::size_t>(PQgetlength(result.get(), 0, column));
          cells[static_cast<std::size_t>(column)] =
              PQgetisnull(result.get(), 0, column) != 0
                  ? std::nullopt
                  : std::optional<std::string_view>(std::string_view(PQgetvalue(result.get(), 0, column), length));
        }
        if (outcome) sink(cells);
      } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && outcome) {
        outcome = std::unexpected(trimmed(PQresultErrorMessage(result.get())));
      }
    }
    return outcome;
  }

 private:
  std::expected<std::string, std::string> prepare(std::string_view sql) {
    std::string key(sql);
    if (auto found = names_.find(key); found != names_.end()) return found->second;
    std::string name = fmt::format("zlu_history_{}", names_.size());
    Result result(PQprepare(connection_, name.c_str(), key.c_str(), 0, nullptr));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
      return std::unexpected(trimmed(PQerrorMessage(connection_)));
    return names_.emplace(std::move(key), std::move(name)).first->second;
  }

  PGconn* connection_;
  std::unordered_map<std::string, std::string> names_;
};

}  // namespace

std::expected<std::unique_ptr<Database>, std::string> open_postgres(const std::string& url) {
  PGconn* connection = PQconnectdb(url.c_str());
  if (connection == nullptr) return std::unexpected(std::string("out of memory for a connection"));
  if (PQstatus(connection) != CONNECTION_OK) {
    std::string error = trimmed(PQerrorMessage(connection));
    PQfinish(connection);
    return std::unexpected(error);
  }
  PQsetNoticeProcessor(connection, ignore_notice, nullptr);
  return std::make_unique<PostgresDatabase>(connection);
}

}  // namespace zlu_history
