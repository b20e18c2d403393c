// The `--format json` report: one JSON object per line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/formatter.hpp"

namespace harness {

// `bytes` as a quoted JSON string: decoded as UTF-8 with ill-formed
// sequences replaced by U+FFFD (as in the console report), then `"`, `\` and
// every control character escaped, so the result is one valid JSON token on
// one line whatever the bytes were.
std::string json_quote(std::string_view bytes);

// Builds one event object field by field; `line()` closes it with a line end.
class JsonLine {
 public:
  JsonLine& text(std::string_view key, std::string_view value);
  JsonLine& number(std::string_view key, std::uint64_t value);
  JsonLine& boolean(std::string_view key, bool value);
  // Seconds with nanosecond precision, e.g. 0.030120400.
  JsonLine& seconds(std::string_view key, std::chrono::nanoseconds value);
  // An object of the texts of `fields`, by their names.
  JsonLine& object(std::string_view key, const TestProperties& fields);
  // An array of one object per test: {"test":...,"passed_on":N}.
  JsonLine& card_evidence(std::string_view key, const std::vector<CardEvidence>& evidence);
  // An array of one object per runner: {"program":...,"text":...,"cut":bool}.
  JsonLine& runner_output(std::string_view key, const std::vector<RunnerOutput>& outputs);
  std::string line() const { return body_ + "}\n"; }

 private:
  void key(std::string_view name);
  // An array of one object per item, each filled in by `fill`.
  template <typename Item, typename Fill>
  JsonLine& array_of(std::string_view key_name, const std::vector<Item>& items, Fill fill) {
    key(key_name);
    body_ += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) body_ += ',';
      JsonLine object;
      fill(object, items[i]);
      body_ += object.body_ + '}';
    }
    body_ += ']';
    return *this;
  }

  std::string body_ = "{";
};

// The lines of the `--format json` report, one or more per event:
//   {"type":"suite","event":"started","test_count":N,"filtered_out":N[,"shuffle_seed":N]}
//   {"type":"test","event":"started","name":...}
//   {"type":"test","event":"still_running","name":...}
//   {"type":"test","event":"try_failed","name":...,"try":K,"tries_allowed":N,
//    "message":...[,"exec_time":s][,"stdout":...][,"runner_output":[...]]}
//   {"type":"test","event":"ok"|"failed"|"ignored","name":...
//    [,"reason":"time limit exceeded"][,"message":...][,"tries":N][,"flaky":true]
//    [,"exec_time":s][,"stdout":...][,"runner_output":[...]][,"properties":{NAME:VALUE,...}]}
//   {"type":"card","event":"healthy"|"quarantined"|"suspect","card":N
//    [,"message":...][,"evidence":[{"test":...,"passed_on":N},...]]}
//   {"type":"suite","event":"ok"|"failed","passed":N,"failed":N,"ignored":N,
//    "measured":N,"filtered_out":N,"exec_time":s}
// A result carries "stdout" for failures with output, and for passes with
// output under `--show-output`; "message" is the failure's message (the note
// of a failure with a note, the ignore message of an ignored test);
// "properties" what the body recorded with record_property, when anything.
// "runner_output" (ZLU_TEST_RUNNER_OUTPUT=capture) goes where "stdout" may:
// the runners of that try, in the order they ended, each as
// {"program":...,"text":...,"cut":bool}.
// A test that failed a try and was run again (ZLU_TEST_RETRIES) has one
// "try_failed" event per failed try, in order, just before its result; the
// result then tells how many tries were made, and whether the last passed
// ("flaky"), or "card_fault":N when the failed tries were suspect card N's.
// Its other fields are those of the last try. A run that watches card health
// (ZLU_TEST_QUARANTINE=on) gives one "card" line per card just before the
// suite's last line: "suspect" is a card that could not be quarantined, and
// "message" says why.
// The lines of the events file (ZLU_TEST_EVENTS) are those lines with fields
// of their own before the closing brace, so that a reader can rebuild the
// JUnit report of the run from them alone:
//   the suite's "started": ,"executable":NAME, the program's file name;
//   a "try_failed" or a result: [,"note":true],"started":T,"ended":T, the
//     try's start and end in UTC to the nanosecond (the epoch's for a test
//     that was not run), and "note" when its failure's message is the
//     harness's note (Outcome::note) rather than the body's;
//   the suite's "ok" or "failed", when a signal stopped the run:
//     ,"stopped_by_signal":N;
//   every line, last: ,"run_id":ID,"timestamp":"<UTC time to the microsecond>",
//     the event's.
class JsonEvents {
 public:
  // The lines of the report.
  explicit JsonEvents(bool show_output) : show_output_(show_output) {}
  // The lines of the events file of a run of the program named `executable`.
  JsonEvents(bool show_output, std::string executable)
      : show_output_(show_output), events_file_(true), executable_(std::move(executable)) {}

  std::string run_started(const RunStart& start) const;
  std::string test_started(const TestEvent& event) const;
  std::string still_running(const TestEvent& event) const;
  // The test's try_failed lines, then its result line.
  std::string test_result(const ResultEvent& event) const;
  std::string run_finished(const RunEnd& event) const;

 private:
  std::string line(JsonLine& event, const EventStamp& stamp) const;
  // Adds the events file's fields of a try to `event`.
  void add_try_fields(JsonLine& event, const Attempt& attempt) const;

  bool show_output_;
  bool events_file_ = false;
  std::string executable_{};
};

class JsonFormatter : public ReportFormatter {
  // The JSON lines of every event, without stamps, on the report's output.
 public:
  JsonFormatter(ConsoleOutput& out, FormatterSettings settings)
      : ReportFormatter(out, std::move(settings)), events_(settings_.show_output) {}

  void run_started(const RunStart& start) override { out_.write(events_.run_started(start)); }
  void test_started(const TestEvent& event) override { out_.write(events_.test_started(event)); }
  void still_running(const TestEvent& event) override { out_.write(events_.still_running(event)); }
  void test_result(const ResultEvent& event) override { out_.write(events_.test_result(event)); }
  void run_finished(const RunEnd& event) override { out_.write(events_.run_finished(event)); }

 private:
  JsonEvents events_;
};

}  // namespace harness
