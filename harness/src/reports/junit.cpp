#include "reports/junit.hpp"

#include <algorithm>
#include <fmt/format.h>

#include "cycles/cycle_report.hpp"
#include "run/outcome.hpp"
#include "run/card_health.hpp"
#include "run/properties.hpp"
#include "run/runner_output.hpp"
#include "reports/time_format.hpp"
#include "zlu-base/src/utf8.hpp"

namespace harness {
namespace {

std::string render_seconds(std::chrono::nanoseconds duration) {
  return fmt::format("{:.3f}", std::chrono::duration<double>(duration).count());
}

// The failure's type attribute and message of a failed result whose
// message is `message` (see failure_message_of).
std::pair<std::string_view, std::string_view> failure_of(const Outcome& outcome, std::string_view message) {
  if (!outcome.reason.empty()) return {outcome.reason, outcome.note ? message : outcome.reason};
  return {outcome.note ? "note" : "failure", message};
}

// The runners' output of a try as a system-err element; empty without any.
std::string render_system_err(const std::vector<RunnerOutput>& outputs) {
  const std::string text = render_runner_output(outputs);
  if (text.empty()) return {};
  return fmt::format("<system-err>{}</system-err>", xml_escape(text, XmlPlace::Text));
}

// One `element` (flakyFailure or rerunFailure) per failed try of `test`, in
// order, each with the try's output as its system-out.
std::string render_failed_tries(const CompletedTest& test, std::string_view element) {
  std::string rendered;
  for (const Attempt& failed_try : test.earlier_tries()) {
    const Outcome outcome = outcome_of(failed_try.result);
    const auto [type, message] = failure_of(outcome, failure_message_of(failed_try, outcome));
    rendered += fmt::format("      <{} type=\"{}\" message=\"{}\"><system-out>{}</system-out>{}</{}>\n", element, type,
                            xml_escape(message, XmlPlace::Attribute),
                            xml_escape(failed_try.stdout_bytes, XmlPlace::Text),
                            render_system_err(failed_try.runner_output), element);
  }
  return rendered;
}

// The properties `test` recorded as lines of the testsuite's `properties`,
// each named "TEST.NAME".
std::string render_properties(const CompletedTest& test) {
  std::string rendered;
  TestProperties shown = reported_properties(test.properties, test.last_try().measurements);
  // A test case has no properties of its own in the schema: a passed try's
  // cycle judgement goes with the suite's, beside the test's.
  if (const auto& cycles = test.last_try().cycles; cycles && cycles->verdict != CycleVerdict::Regressed) {
    std::string value(cycle_verdict_word(cycles->verdict));
    if (!cycles->changes.empty()) value += ": " + render_changes(*cycles);
    shown.emplace_back("cycles", std::move(value));
  }
  for (const auto& [name, value] : shown)
    rendered += fmt::format("      <property name=\"{}\" value=\"{}\"/>\n",
                            xml_escape(fmt::format("{}.{}", test.desc.name, name), XmlPlace::Attribute),
                            xml_escape(value, XmlPlace::Attribute));
  return rendered;
}

}  // namespace

std::string xml_escape(std::string_view bytes, XmlPlace place) {
  const std::string text = zlu_base::decode_utf8_lossy(bytes);
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool attribute = place == XmlPlace::Attribute;
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += attribute ? "&quot;" : "\""; break;
      case '\'': escaped += attribute ? "&apos;" : "'"; break;
      case '\t': escaped += attribute ? "&#9;" : "\t"; break;
      case '\n': escaped += attribute ? "&#10;" : "\n"; break;
      case '\r': escaped += "&#13;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          escaped += zlu_base::UTF8_REPLACEMENT;
        } else if (text.compare(i, 3, "\xEF\xBF\xBE") == 0 || text.compare(i, 3, "\xEF\xBF\xBF") == 0) {
          escaped += zlu_base::UTF8_REPLACEMENT;
          i += 2;
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

void JunitFormatter::run_started(const RunStart& start) { run_start_ = start.started_at; }

std::chrono::nanoseconds JunitFormatter::test_time(const CompletedTest& test) {
  // A test run more than once took the time of all its tries.
  if (!test.last_try().exec_time)
    return std::chrono::duration_cast<std::chrono::nanoseconds>(test.last_try().ended - test.attempts.front().started);
  std::chrono::nanoseconds measured{};
  for (const Attempt& attempt : test.attempts)
    if (attempt.exec_time) measured += attempt.exec_time->duration;
  return measured;
}

void JunitFormatter::test_result(const ResultEvent& event) {
  const CompletedTest& test = event.test;
  const Attempt& last = test.last_try();
  ++reported_;
  auto attribute = [](std::string_view text) { return xml_escape(text, XmlPlace::Attribute); };
  std::string element;  // the children the result itself gives the testcase, if any
  const Outcome outcome = outcome_of(last.result);
  switch (outcome.verdict) {
    case Verdict::Passed:
    case Verdict::Measured:
      if (settings_.show_output && !last.stdout_bytes.empty())
        element = fmt::format("<system-out>{}</system-out>", xml_escape(last.stdout_bytes, XmlPlace::Text));
      if (settings_.show_output) element += render_system_err(last.runner_output);
      break;
    case Verdict::Ignored:
      element = "<skipped/>";
      if (test.desc.ignore_message)
        element = fmt::format("<skipped message=\"{}\"/>", attribute(*test.desc.ignore_message));
      break;
    case Verdict::Failed: {
      const auto [type, message] = failure_of(outcome, failure_message_of(last, outcome));
      element = fmt::format("<failure type=\"{}\" message=\"{}\">{}</failure>{}", type, attribute(message),
                            xml_escape(last.stdout_bytes, XmlPlace::Text), render_system_err(last.runner_output));
      break;
    }
  }
  testcases_ += fmt::format("    <testcase classname=\"{}\" name=\"{}\" time=\"{}\"",
                            attribute(settings_.executable_name), attribute(test.desc.name),
                            render_seconds(test_time(test)));
  // The failed tries of a test that passed in the end are flaky failures;
  // those of a test that failed every try are reruns of its failure.
  const bool passed = outcome.verdict != Verdict::Failed;
  const std::string retried = render_failed_tries(test, passed ? "flakyFailure" : "rerunFailure");
  properties_ += render_properties(test);
  std::string children;
  if (passed) children += retried;
  if (!element.empty()) children += fmt::format("      {}\n", element);
  if (!passed) children += retried;
  testcases_ += children.empty() ? "/>\n" : fmt::format(">\n{}    </testcase>\n", children);
}

void JunitFormatter::run_finished(const RunEnd& event) {
  const RunCounts& counts = event.counts;
  const std::string executable = xml_escape(settings_.executable_name, XmlPlace::Attribute);
  const std::string elapsed =
      render_seconds(counts.exec_time ? counts.exec_time->duration : std::chrono::nanoseconds{});
  std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
  document += fmt::format(
      "  <testsuite name=\"{}\" tests=\"{}\" failures=\"{}\" errors=\"0\" skipped=\"{}\" time=\"{}\" "
      "timestamp=\"{}\">\n",
      executable, reported_, counts.failed, counts.ignored, elapsed, render_utc_time(run_start_, UtcDigits::Seconds));
  std::string properties = properties_;
  for (const CardVerdict& verdict : event.card_verdicts) {
    properties += fmt::format("      <property name=\"card.{}\" value=\"{}\"/>\n", verdict.card,
                              xml_escape(render_card_verdict(verdict), XmlPlace::Attribute));
  }
  if (!properties.empty()) document += fmt::format("    <properties>\n{}    </properties>\n", properties);
  document += testcases_;
  document += "  </testsuite>\n</testsuites>\n";
  out_.write(document);
}

}  // namespace harness
