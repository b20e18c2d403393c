// The little a history needs of a SQL database, so that the store's
// statements are written once for the embedded file and the server.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zlu_history {

// A value bound to a statement's parameter: SQL NULL, an integer or text.
using Param = std::variant<std::monostate, std::int64_t, std::string_view>;

// A result row as text, one cell per column; nullopt is SQL NULL.
using Row = std::span<const std::optional<std::string_view>>;

// Called once per result row; the row's text lives only until it returns.
using RowSink = std::function<void(Row row)>;

// Which SQL a database speaks where the two differ.
enum class Dialect { Sqlite, Postgres };

class Database {
  // A connection to one database. Statements name their parameters $1, $2,
  // ... in both dialects; each statement is prepared once per connection and
  // kept. Errors are values: the database's own message, for the store to
  // name where it was.
 public:
  virtual ~Database() = default;

  virtual Dialect dialect() const = 0;

  // Runs `script`, one or more statements without parameters or results.
  virtual std::expected<void, std::string> execute(std::string_view script) = 0;

  // Runs one statement with `params`, handing each result row to `sink`.
  virtual std::expected<void, std::string> query(std::string_view sql, std::span<const Param> params,
                                                 const RowSink& sink) = 0;
};

// Runs `sql` and returns its rows' first column as integers; for counts,
// keys and versions.
std::expected<std::vector<std::int64_t>, std::string> query_integers(Database& db, std::string_view sql,
                                                                     std::span<const Param> params = {});

// A cell as an integer; 0 for NULL or text that is not one.
std::int64_t integer_cell(std::optional<std::string_view> cell);

// A cell as text; empty for NULL.
std::string text_cell(std::optional<std::string_view> cell);

}  // namespace zlu_history
