// Where a history is kept, as ZLU_TEST_HISTORY or the tool's --history name it.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace zlu_history {

inline constexpr std::string_view HISTORY_VARIABLE = "ZLU_TEST_HISTORY";

struct StoreLocation {
  // A file path is an SQLite database; a postgresql:// URL (or its short
  // form postgres://) a PostgreSQL one, handed to the client library as it is.
  enum class Kind { SqliteFile, Postgres };
  Kind kind = Kind::SqliteFile;
  std::string text;
};

// The store `value` names, or why it names none: empty, or a URL of a scheme
// other than PostgreSQL's. `source` is the variable or option the value came
// from; the message names it and the value.
std::expected<StoreLocation, std::string> parse_location(std::string_view value, std::string_view source);

}  // namespace zlu_history
