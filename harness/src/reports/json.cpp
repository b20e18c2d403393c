#include "reports/json.hpp"

#include <fmt/format.h>

#include "run/card_health.hpp"
#include "cycles/cycle_report.hpp"
#include "run/outcome.hpp"
#include "reports/time_format.hpp"
#include "run/properties.hpp"
#include "zlu-base/src/utf8.hpp"

namespace harness {

std::string json_quote(std::string_view bytes) {
  const std::string text = zlu_base::decode_utf8_lossy(bytes);
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  for (const char c : text) {
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      case '\b': quoted += "\\b"; break;
      case '\f': quoted += "\\f"; break;
      default:
        // DEL is legal in JSON but invisible on a terminal; escaping it keeps
        // the line readable.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          quoted += fmt::format("\\u{:04x}", static_cast<unsigned char>(c));
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

void JsonLine::key(std::string_view name) {
  if (body_.size() > 1) body_ += ',';
  body_ += json_quote(name);
  body_ += ':';
}

JsonLine& JsonLine::text(std::string_view key_name, std::string_view value) {
  key(key_name);
  body_ += json_quote(value);
  return *this;
}

JsonLine& JsonLine::number(std::string_view key_name, std::uint64_t value) {
  key(key_name);
  body_ += fmt::format("{}", value);
  return *this;
}

JsonLine& JsonLine::boolean(std::string_view key_name, bool value) {
  key(key_name);
  body_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::seconds(std::string_view key_name, std::chrono::nanoseconds value) {
  key(key_name);
  const auto count = value.count() < 0 ? 0 : static_cast<std::uint64_t>(value.count());
  body_ += fmt::format("{}.{:09}", count / 1'000'000'000, count % 1'000'000'000);
  return *this;
}

JsonLine& JsonLine::object(std::string_view key_name, const TestProperties& fields) {
  key(key_name);
  body_ += '{';
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) body_ += ',';
    body_ += json_quote(fields[i].first) + ':' + json_quote(fields[i].second);
  }
  body_ += '}';
  return *this;
}

JsonLine& JsonLine::card_evidence(std::string_view key_name, const std::vector<CardEvidence>& evidence) {
  return array_of(key_name, evidence, [](JsonLine& item, const CardEvidence& test) {
    item.text("test", test.test).number("passed_on", test.passed_on);
    if (test.recent) item.boolean("recent", true);
  });
}

JsonLine& JsonLine::runner_output(std::string_view key_name, const std::vector<RunnerOutput>& outputs) {
  return array_of(key_name, outputs, [](JsonLine& runner, const RunnerOutput& output) {
    runner.text("program", output.program).text("text", output.text).boolean("cut", output.cut);
  });
}

std::string JsonEvents::line(JsonLine& event, const EventStamp& stamp) const {
  if (events_file_) {
    event.text("run_id", stamp.run_id).text("timestamp", render_utc_time(stamp.at, UtcDigits::Microseconds));
  }
  return event.line();
}

void JsonEvents::add_try_fields(JsonLine& event, const Attempt& attempt) const {
  if (!events_file_) return;
  if (outcome_of(attempt.result).note) event.boolean("note", true);
  event.text("started", render_utc_time(attempt.started, UtcDigits::Nanoseconds));
  event.text("ended", render_utc_time(attempt.ended, UtcDigits::Nanoseconds));
}

std::string JsonEvents::run_started(const RunStart& start) const {
  JsonLine event;
  event.text("type", "suite").text("event", "started").number("test_count", start.test_count);
  event.number("filtered_out", start.filtered_out);
  if (start.shuffle_seed) event.number("shuffle_seed", *start.shuffle_seed);
  if (events_file_) event.text("executable", executable_);
  return line(event, {start.run_id, start.started_at});
}

std::string JsonEvents::test_started(const TestEvent& started) const {
  JsonLine event;
  event.text("type", "test").text("event", "started").text("name", started.desc.name);
  return line(event, started.stamp);
}

std::string JsonEvents::still_running(const TestEvent& running) const {
  JsonLine event;
  event.text("type", "test").text("event", "still_running").text("name", running.desc.name);
  return line(event, running.stamp);
}

std::string JsonEvents::test_result(const ResultEvent& result) const {
  const CompletedTest& test = result.test;
  const Attempt& last = test.last_try();
  std::string lines;
  const std::span<const Attempt> failed_tries = test.earlier_tries();
  for (std::size_t i = 0; i < failed_tries.size(); ++i) {
    const Attempt& failed_try = failed_tries[i];
    JsonLine event;
    event.text("type", "test").text("event", "try_failed").text("name", test.desc.name);
    event.number("try", i + 1).number("tries_allowed", test.tries_allowed);
    event.text("message", failure_message_of(failed_try, outcome_of(failed_try.result)));
    if (failed_try.exec_time) event.seconds("exec_time", failed_try.exec_time->duration);
    if (!failed_try.stdout_bytes.empty()) event.text("stdout", failed_try.stdout_bytes);
    if (!failed_try.runner_output.empty()) event.runner_output("runner_output", failed_try.runner_output);
    add_try_fields(event, failed_try);
    lines += line(event, result.stamp);
  }

  JsonLine event;
  event.text("type", "test");
  bool with_output = false;
  const Outcome outcome = outcome_of(last.result);
  switch (outcome.verdict) {
    case Verdict::Passed:
      event.text("event", "ok").text("name", test.desc.name);
      if (last.cycles) event.text("cycles", cycle_verdict_word(last.cycles->verdict));
      if (last.cycles && !last.cycles->changes.empty()) event.text("cycle_changes", render_changes(*last.cycles));
      with_output = show_output_;
      break;
    case Verdict::Failed:
      event.text("event", "failed").text("name", test.desc.name);
      if (outcome.reason.empty()) {
        event.text("message", failure_message_of(last, outcome));
      } else {
        event.text("reason", outcome.reason);
        if (outcome.note) event.text("message", *outcome.note);
      }
      with_output = true;
      break;
    case Verdict::Ignored:
      event.text("event", "ignored").text("name", test.desc.name);
      if (test.desc.ignore_message) event.text("message", *test.desc.ignore_message);
      break;
    case Verdict::Measured:
      event.text("event", "bench").text("name", test.desc.name);
      event.number("median", static_cast<std::uint64_t>(last.result.bench.ns_per_iter));
      event.number("deviation", static_cast<std::uint64_t>(last.result.bench.deviation));
      break;
  }
  if (test.attempts.size() > 1) event.number("tries", test.attempts.size());
  if (is_flaky(test)) event.boolean("flaky", true);
  if (test.card_fault) event.number("card_fault", *test.card_fault);
  if (last.exec_time) event.seconds("exec_time", last.exec_time->duration);
  if (with_output && !last.stdout_bytes.empty()) event.text("stdout", last.stdout_bytes);
  if (with_output && !last.runner_output.empty()) event.runner_output("runner_output", last.runner_output);
  if (const TestProperties shown = reported_properties(test.properties, last.measurements); !shown.empty())
    event.object("properties", shown);
  add_try_fields(event, last);
  return lines + line(event, result.stamp);
}

std::string JsonEvents::run_finished(const RunEnd& end) const {
  const RunCounts& counts = end.counts;
  JsonLine event;
  event.text("type", "suite").text("event", counts.succeeded() ? "ok" : "failed");
  event.number("passed", counts.passed).number("failed", counts.failed).number("ignored", counts.ignored);
  event.number("measured", counts.measured).number("filtered_out", counts.filtered_out);
  if (counts.exec_time) event.seconds("exec_time", counts.exec_time->duration);
  if (events_file_ && end.stopping_signal != 0) {
    event.number("stopped_by_signal", static_cast<std::uint64_t>(end.stopping_signal));
  }
  std::string lines;
  for (const CardVerdict& verdict : end.card_verdicts) {
    JsonLine card;
    card.text("type", "card").text("event", card_verdict_word(verdict)).number("card", verdict.card);
    if (!verdict.not_quarantined.empty()) card.text("message", verdict.not_quarantined);
    if (verdict.suspect()) card.card_evidence("evidence", verdict.evidence);
    lines += line(card, end.stamp);
  }
  return lines + line(event, end.stamp);
}

}  // namespace harness
