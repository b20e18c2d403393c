// What the subcommands share: opening the history, reading WHEN, and showing
// times and durations.
#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "command.hpp"
#include <nlohmann/json.hpp>

#include "zlu-history/src/database.hpp"
#include "zlu-history/src/queries.hpp"
#include "zlu-history/src/records.hpp"

namespace zlu_e2e {

// The invocation's history opened for reading; else the error is written
// (naming the store and what was wrong) and the exit status returned.
std::expected<std::unique_ptr<zlu_history::Database>, int> open_history(const Invocation& invocation);

// Writes "zlu-e2e: <message>" to standard error and returns USAGE_OR_STORE_ERROR.
int store_error(std::string_view message);

// The time WHEN names, relative to `now`: "7d", "12h", "30m" back from now,
// or a UTC date "2026-01-31"; the error says what is wrong with it.
std::expected<zlu_history::Micros, std::string> parse_when(std::string_view when, zlu_history::Micros now);

// The value of `--since WHEN` among `args` (0 when absent: every attempt);
// any other argument is an error.
std::expected<zlu_history::Micros, std::string> since_option(const std::vector<std::string>& args);

// The value of `--limit N` when `args` are exactly those two words, N a
// whole number from 1; `fallback` when `args` are empty; else an error that
// `command` takes only that.
std::expected<std::int64_t, std::string> limit_option(std::span<const std::string> args, std::int64_t fallback,
                                                      std::string_view command);

// The current time as the history keeps it.
zlu_history::Micros now_micros();

// "2026-01-31 05:03:12" (UTC).
std::string format_time(zlu_history::Micros time);

// "850 ms", "12.3 s".
std::string format_duration(zlu_history::Micros duration);

// Writes `text` to standard output; false when it could not be written.
bool write_out(std::string_view text);

// Writes `value` as indented JSON and returns the exit status.
int write_json(const nlohmann::json& value);

// The share of `tally`'s attempts that failed, in percent.
double failure_percent(const zlu_history::Tally& tally);

// An integer or JSON's null.
nlohmann::json optional_json(const std::optional<std::int64_t>& value);

// An attempt as the JSON outputs show it; its measurements as the object
// they are.
nlohmann::json attempt_json(const zlu_history::StoredAttempt& attempt);

}  // namespace zlu_e2e
