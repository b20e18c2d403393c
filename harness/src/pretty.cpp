#include "pretty.hpp"

#include <fmt/format.h>

#include "console_report.hpp"
#include "time_format.hpp"

namespace harness {

void PrettyFormatter::run_started(const RunStart& start) { out_.write(render_start_line(start)); }

void PrettyFormatter::test_started(const TestDesc& desc) {
  if (!settings_.concurrent) out_.write(fmt::format("test {} ... ", desc.name));
}

void PrettyFormatter::still_running(const TestDesc& desc) { out_.write(render_still_running(desc)); }

void PrettyFormatter::test_result(const CompletedTest& test, const ConsoleTestState&) {
  if (settings_.concurrent) out_.write(fmt::format("test {} ... ", test.desc.name));
  write_result_word(test);
  write_time(test);
  out_.write("\n");
}

void PrettyFormatter::run_finished(const ConsoleTestState& state) {
  write_summary(out_, state, settings_.show_output);
}

void PrettyFormatter::write_result_word(const CompletedTest& test) {
  switch (test.result.kind) {
    case TestResult::Kind::Ok: out_.write_colored(Color::Green, "ok"); break;
    case TestResult::Kind::Failed:
    case TestResult::Kind::FailedWithNote: out_.write_colored(Color::Red, "FAILED"); break;
    case TestResult::Kind::Ignored:
      if (test.desc.ignore_message) {
        out_.write_colored(Color::Yellow, fmt::format("ignored, {}", *test.desc.ignore_message));
      } else {
        out_.write_colored(Color::Yellow, "ignored");
      }
      break;
    case TestResult::Kind::Bench:
      out_.write_colored(Color::Cyan, "bench");
      out_.write(fmt::format(": {:.0f} ns/iter (+/- {:.0f})", test.result.bench.ns_per_iter,
                             test.result.bench.deviation));
      break;
    case TestResult::Kind::TimeLimitExceeded: out_.write_colored(Color::Red, "FAILED (time limit exceeded)"); break;
  }
}

void PrettyFormatter::write_time(const CompletedTest& test) {
  if (!settings_.time_options || !test.exec_time) return;
  const std::string time = fmt::format("<{}>", render_exec_time(*test.exec_time));
  out_.write(" ");
  if (auto color = time_color(*test.exec_time, settings_.time_options->threshold(test.desc.test_type))) {
    out_.write_colored(*color, time);
  } else {
    out_.write(time);
  }
}

}  // namespace harness
