// cycles: a test's cycles per step kind and span over its latest recorded
// tries, as the suite measured them with cycle summaries on.
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kinds.hpp"
#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-history/src/queries.hpp"

namespace zlu_e2e {

namespace {

constexpr std::int64_t DEFAULT_TRY_LIMIT = 20;
constexpr std::size_t SHORT_ID = 12;

struct CycleRow {
  // One try's summary as the history stored it.
  const zlu_history::StoredAttempt* attempt = nullptr;
  std::array<std::uint64_t, zlu_profile::STEP_KINDS.size()> by_kind{};
  std::uint64_t span = 0;
};

// The summary in `attempt`'s measurements; the error names the run and try
// whose record is not one.
std::expected<CycleRow, std::string> cycle_row(const zlu_history::StoredAttempt& attempt) {
  const auto malformed = [&] {
    return std::unexpected(fmt::format("run {} try {} of {}: its cycle summary is malformed", attempt.run_id,
                                       attempt.try_number, attempt.test));
  };
  const auto measurements = nlohmann::json::parse(attempt.measurements, nullptr, false);
  const auto cycles = measurements.is_object() ? measurements.value("cycles", nlohmann::json()) : nlohmann::json();
  if (!cycles.is_object()) return malformed();
  const auto by_kind = cycles.value("by_kind", nlohmann::json());
  const auto span = cycles.value("span", nlohmann::json());
  if (!by_kind.is_array() || by_kind.size() != zlu_profile::STEP_KINDS.size() || !span.is_number_unsigned())
    return malformed();
  CycleRow row{.attempt = &attempt, .by_kind = {}, .span = span.get<std::uint64_t>()};
  for (std::size_t kind = 0; kind < row.by_kind.size(); ++kind) {
    if (!by_kind[kind].is_number_unsigned()) return malformed();
    row.by_kind[kind] = by_kind[kind].get<std::uint64_t>();
  }
  return row;
}

// "+10.0%" from `before` to `after`; "new" when nothing came before.
std::string change_text(std::uint64_t before, std::uint64_t after) {
  if (before == 0) return after == 0 ? "+0.0%" : "new";
  const double percent = 100.0 * (static_cast<double>(after) - static_cast<double>(before)) / static_cast<double>(before);
  return fmt::format("{:+.1f}%", percent);
}

nlohmann::json row_json(const CycleRow& row) {
  nlohmann::json by_kind = nlohmann::json::object();
  for (const auto kind : zlu_profile::STEP_KINDS)
    by_kind[std::string(zlu_profile::kind_name(kind))] = row.by_kind[zlu_profile::kind_index(kind)];
  return {{"run_id", row.attempt->run_id},  {"build_id", row.attempt->build_id},
          {"started_us", row.attempt->started}, {"try", row.attempt->try_number},
          {"card", optional_json(row.attempt->card)}, {"outcome", row.attempt->outcome},
          {"cycles", by_kind},                {"span", row.span}};
}

std::string render_rows(std::string_view test, const std::vector<CycleRow>& rows) {
  if (rows.empty()) return fmt::format("no recorded cycles of {} (the suite records them with ZLU_TEST_CYCLES=on)\n", test);
  std::string text = fmt::format("{:<12}  {:<19}  {:>3}  {:>4}", "RUN", "STARTED", "TRY", "CARD");
  for (const auto kind : zlu_profile::STEP_KINDS) text += fmt::format("  {:>15}", zlu_profile::kind_name(kind));
  text += fmt::format("  {:>12}\n", "span");
  for (const auto& row : rows) {
    const auto& attempt = *row.attempt;
    text += fmt::format("{:<12}  {:<19}  {:>3}  {:>4}", attempt.run_id.substr(0, SHORT_ID), format_time(attempt.started),
                        attempt.try_number, attempt.card ? fmt::format("{}", *attempt.card) : std::string("-"));
    for (const auto count : row.by_kind) text += fmt::format("  {:>15}", count);
    text += fmt::format("  {:>12}\n", row.span);
  }
  // The change over the tries shown, the question a trend answers first.
  const auto& first = rows.front();
  const auto& last = rows.back();
  text += "change, first to last:";
  for (const auto kind : zlu_profile::STEP_KINDS) {
    const auto index = zlu_profile::kind_index(kind);
    text += fmt::format(" {} {},", zlu_profile::kind_name(kind), change_text(first.by_kind[index], last.by_kind[index]));
  }
  text += fmt::format(" span {}\n", change_text(first.span, last.span));
  return text;
}

}  // namespace

int run_cycles(const Invocation& invocation) {
  const auto& args = invocation.args;
  if (args.empty() || args[0].starts_with("-")) return usage_error("cycles takes a TEST, then --limit N if any");
  const auto limit = limit_option(std::span(args).subspan(1), DEFAULT_TRY_LIMIT, "cycles TEST");
  if (!limit) return usage_error(limit.error());
  auto db = open_history(invocation);
  if (!db) return db.error();
  auto attempts = zlu_history::cycle_attempts(**db, args[0], *limit);
  if (!attempts) return store_error(fmt::format("history {}: {}", *invocation.history, attempts.error()));
  std::vector<CycleRow> rows;
  for (const auto& attempt : *attempts) {
    auto row = cycle_row(attempt);
    if (!row) return store_error(fmt::format("history {}: {}", *invocation.history, row.error()));
    rows.push_back(*row);
  }
  if (invocation.json) {
    auto list = nlohmann::json::array();
    for (const auto& row : rows) list.push_back(row_json(row));
    return write_json(list);
  }
  return write_out(render_rows(args[0], rows)) ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
