#include "database.hpp"

#include <charconv>

namespace zlu_history {

std::expected<std::vector<std::int64_t>, std::string> query_integers(Database& db, std::string_view sql,
                                                                     std::span<const Param> params) {
  std::vector<std::int64_t> values;
  auto done = db.query(sql, params, [&](Row row) { values.push_back(integer_cell(row[0])); });
  if (!done) return std::unexpected(done.error());
  return values;
}

std::int64_t integer_cell(std::optional<std::string_view> cell) {
  if (!cell) return 0;
  std::int64_t value = 0;
  std::from_chars(cell->data(), cell->data() + cell->size(), value);
  return value;
}

std::string text_cell(std::optional<std::string_view> cell) { return cell ? std::string(*cell) : std::string(); }

}  // namespace zlu_history
