#include "tool.hpp"

#include <charconv>
#include <chrono>

#include <fmt/format.h>

#include "zlu-base/src/fd.hpp"
#include "zlu-history/src/location.hpp"
#include "zlu-history/src/store.hpp"

namespace zlu_e2e {

using zlu_history::Micros;

std::expected<std::unique_ptr<zlu_history::Database>, int> open_history(const Invocation& invocation) {
  if (!invocation.history)
    return std::unexpected(store_error(fmt::format("no history: give --history or set {}",
                                                   zlu_history::HISTORY_VARIABLE)));
  auto location = zlu_history::parse_location(*invocation.history, invocation.history_source);
  if (!location) return std::unexpected(store_error(location.error()));
  auto db = zlu_history::open_store(*location, zlu_history::Purpose::Read);
  if (!db) return std::unexpected(store_error(db.error()));
  return std::move(*db);
}

int store_error(std::string_view message) {
  zlu_base::write_stderr_line(fmt::format("zlu-e2e: {}", message));
  return USAGE_OR_STORE_ERROR;
}

std::expected<Micros, std::string> parse_when(std::string_view when, Micros now) {
  constexpr Micros MINUTE = 60'000'000;
  const auto bad = [&] {
    return std::unexpected(
        fmt::format("WHEN \"{}\": expected a span back from now (7d, 12h, 30m) or a UTC date (2026-01-31)", when));
  };
  if (when.size() >= 2 && (when.back() == 'd' || when.back() == 'h' || when.back() == 'm')) {
    Micros count = 0;
    const auto digits = when.substr(0, when.size() - 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    if (error != std::errc() || end != digits.data() + digits.size() || count < 0) return bad();
    const Micros unit = when.back() == 'd' ? 24 * 60 * MINUTE : when.back() == 'h' ? 60 * MINUTE : MINUTE;
    if (count > now / unit) return Micros{0};
    return now - count * unit;
  }
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  if (when.size() != 10 || when[4] != '-' || when[7] != '-') return bad();
  const auto number = [&](std::size_t at, std::size_t length, auto& value) {
    const auto [end, error] = std::from_chars(when.data() + at, when.data() + at + length, value);
    return error == std::errc() && end == when.data() + at + length;
  };
  if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day)) return bad();
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
  if (!date.ok()) return bad();
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::sys_days(date).time_since_epoch()).count();
}

std::expected<Micros, std::string> since_option(const std::vector<std::string>& args) {
  Micros since = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--since") return std::unexpected(fmt::format("unexpected argument {}", args[i]));
    if (i + 1 == args.size()) return std::unexpected(std::string("--since needs a value"));
    auto when = parse_when(args[++i], now_micros());
    if (!when) return std::unexpected(when.error());
    since = *when;
  }
  return since;
}

std::expected<std::int64_t, std::string> limit_option(std::span<const std::string> args, std::int64_t fallback,
                                                      std::string_view command) {
  if (args.empty()) return fallback;
  std::int64_t limit = 0;
  const std::string_view count = args.size() == 2 && args[0] == "--limit" ? std::string_view(args[1]) : "";
  const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), limit);
  if (count.empty() || error != std::errc() || end != count.data() + count.size() || limit < 1)
    return std::unexpected(fmt::format("{} takes only --limit N, N a whole number from 1", command));
  return limit;
}

Micros now_micros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string format_time(Micros time) {
  const std::chrono::sys_time<std::chrono::microseconds> at{std::chrono::microseconds(time)};
  const auto seconds = std::chrono::floor<std::chrono::seconds>(at);
  const auto day = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss clock(seconds - day);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), clock.hours().count(),
                     clock.minutes().count(), clock.seconds().count());
}

std::string format_duration(Micros duration) {
  if (duration < 10'000'000) return fmt::format("{} ms", duration / 1000);
  return fmt::format("{:.1f} s", static_cast<double>(duration) / 1e6);
}

bool write_out(std::string_view text) { return zlu_base::write_all(1, text) == 0; }

int write_json(const nlohmann::json& value) {
  // Messages hold whatever a runner printed; bytes that are not UTF-8 are replaced.
  const bool written = write_out(value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  return written ? 0 : store_error("standard output cannot be written");
}

double failure_percent(const zlu_history::Tally& tally) {
  return tally.attempts == 0 ? 0.0 : 100.0 * static_cast<double>(tally.failures) / static_cast<double>(tally.attempts);
}

nlohmann::json optional_json(const std::optional<std::int64_t>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json attempt_json(const zlu_history::StoredAttempt& attempt) {
  return {{"run_id", attempt.run_id},
          {"build_id", attempt.build_id},
          {"test", attempt.test},
          {"try", attempt.try_number},
          {"card", optional_json(attempt.card)},
          {"host", attempt.host},
          {"started_us", attempt.started},
          {"duration_us", attempt.duration},
          {"card_wait_us", optional_json(attempt.card_wait)},
          {"outcome", attempt.outcome},
          {"message", attempt.message},
          {"measurements", nlohmann::json::parse(attempt.measurements, nullptr, false)}};
}

}  // namespace zlu_e2e
