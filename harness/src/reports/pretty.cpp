#include "reports/pretty.hpp"

#include <fmt/format.h>

#include "cycles/cycle_report.hpp"
#include "reports/console_report.hpp"
#include "run/outcome.hpp"
#include "reports/time_format.hpp"

namespace harness {

void PrettyFormatter::run_started(const RunStart& start) { out_.write(render_start_line(start)); }

void PrettyFormatter::test_started(const TestEvent& event) {
  if (!settings_.concurrent) out_.write(fmt::format("test {} ... ", event.desc.name));
}

void PrettyFormatter::still_running(const TestEvent& event) { out_.write(render_still_running(event.desc)); }

void PrettyFormatter::test_result(const ResultEvent& event) {
  const CompletedTest& test = event.test;
  summary_.add(test);
  // One write per line, so that output of a runner started by another test
  // cannot land in the middle of it.
  std::string line = settings_.concurrent ? fmt::format("test {} ... ", test.desc.name) : "";
  line += render_result_word(test);
  line += render_time(test);
  line += "\n";
  if (outcome_of(test.result()).passed()) line += render_cycle_lines(test.last_try().cycles);
  out_.write(line);
}

void PrettyFormatter::run_finished(const RunEnd& event) {
  write_summary(out_, event.counts, summary_, settings_.show_output, event.card_verdicts);
}

std::string PrettyFormatter::render_result_word(const CompletedTest& test) const {
  const Palette& palette = out_.palette();
  const Outcome outcome = outcome_of(test.result());
  switch (outcome.verdict) {
    case Verdict::Passed:
      if (const std::string note = retry_note(test); !note.empty()) {
        return palette.paint(Color::Green, "ok") + fmt::format(" ({})", note);
      }
      return palette.paint(Color::Green, "ok");
    case Verdict::Failed:
      if (!outcome.reason.empty()) return palette.paint(Color::Red, fmt::format("FAILED ({})", outcome.reason));
      return palette.paint(Color::Red, "FAILED");
    case Verdict::Ignored:
      if (test.desc.ignore_message) return palette.paint(Color::Yellow, fmt::format("ignored, {}", *test.desc.ignore_message));
      return palette.paint(Color::Yellow, "ignored");
    case Verdict::Measured: {
      const BenchFigures& bench = test.result().bench;
      return palette.paint(Color::Cyan, "bench") +
             fmt::format(": {:.0f} ns/iter (+/- {:.0f})", bench.ns_per_iter, bench.deviation);
    }
  }
  return {};
}

std::string PrettyFormatter::render_time(const CompletedTest& test) const {
  const std::optional<TestExecTime>& exec_time = test.last_try().exec_time;
  if (!settings_.time_options || !exec_time) return {};
  const std::string time = fmt::format("<{}>", render_exec_time(*exec_time));
  const auto color = time_color(*exec_time, settings_.time_options->threshold(test.desc.test_type));
  return " " + (color ? out_.palette().paint(*color, time) : time);
}

}  // namespace harness
