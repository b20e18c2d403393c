// export: every attempt, as JSON lines or CSV, for other tools.
#include <array>
#include <cstdio>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-history/src/queries.hpp"

namespace zlu_e2e {

namespace {

using zlu_history::StoredAttempt;

constexpr std::array<std::string_view, 12> CSV_COLUMNS = {
    "run_id", "build_id", "test", "try", "card", "host", "started_us", "duration_us", "card_wait_us",
    "outcome", "message", "measurements"};

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string optional_text(const std::optional<std::int64_t>& value) {
  return value ? std::to_string(*value) : std::string();
}

std::string csv_line(const StoredAttempt& attempt) {
  const std::array<std::string, 12> fields = {
      attempt.run_id, attempt.build_id, attempt.test, std::to_string(attempt.try_number), optional_text(attempt.card),
      attempt.host, std::to_string(attempt.started), std::to_string(attempt.duration),
      optional_text(attempt.card_wait), attempt.outcome, attempt.message, attempt.measurements};
  std::string line;
  for (const auto& field : fields) {
    if (!line.empty()) line += ',';
    line += csv_field(field);
  }
  return line + '\n';
}

std::string json_line(const StoredAttempt& attempt) {
  return attempt_json(attempt).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

}  // namespace

int run_export(const Invocation& invocation) {
  bool csv = false;
  for (const auto& arg : invocation.args) {
    if (arg == "--csv") {
      csv = true;
    } else if (arg != "--jsonl") {
      return usage_error(fmt::format("export takes --jsonl or --csv, not {}", arg));
    }
  }
  auto db = open_history(invocation);
  if (!db) return db.error();
  std::string buffer;
  bool written = true;
  const auto flush = [&] {
    written = written && write_out(buffer);
    buffer.clear();
  };
  if (csv) {
    for (const auto column : CSV_COLUMNS) buffer += fmt::format("{}{}", buffer.empty() ? "" : ",", column);
    buffer += '\n';
  }
  auto done = zlu_history::each_attempt(**db, [&](const StoredAttempt& attempt) {
    buffer += csv ? csv_line(attempt) : json_line(attempt);
    if (buffer.size() > (1u << 16)) flush();
  });
  flush();
  if (!done) return store_error(fmt::format("history {}: {}", *invocation.history, done.error()));
  return written ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
