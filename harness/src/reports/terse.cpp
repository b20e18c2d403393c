#include "reports/terse.hpp"

#include <fmt/format.h>

#include "reports/console_report.hpp"
#include "run/outcome.hpp"

namespace harness {

void TerseFormatter::run_started(const RunStart& start) {
  total_ = start.test_count;
  out_.write(render_start_line(start));
}

void TerseFormatter::still_running(const TestEvent& event) { out_.write(render_still_running(event.desc)); }

void TerseFormatter::test_result(const ResultEvent& event) {
  const CompletedTest& test = event.test;
  summary_.add(test);
  switch (outcome_of(test.result()).verdict) {
    case Verdict::Passed: write_character(Color::Green, "."); break;
    case Verdict::Ignored: write_character(Color::Yellow, "i"); break;
    case Verdict::Measured: write_character(Color::Cyan, "b"); break;
    case Verdict::Failed:
      if (column_ > 0) write_progress();
      out_.write(fmt::format("{} --- {}\n", test.desc.name, out_.palette().paint(Color::Red, "FAILED")));
      ++done_;
      break;
  }
}

void TerseFormatter::run_finished(const RunEnd& event) {
  write_summary(out_, event.counts, summary_, settings_.show_output, event.card_verdicts);
}

void TerseFormatter::write_character(Color color, std::string_view character) {
  out_.write_colored(color, character);
  ++done_;
  if (column_ % line_width == line_width - 1) {
    write_progress();
  } else {
    ++column_;
  }
}

void TerseFormatter::write_progress() {
  out_.write(fmt::format(" {}/{}\n", done_, total_));
  column_ = 0;
}

}  // namespace harness
