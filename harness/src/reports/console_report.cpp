#include "reports/console_report.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "reports/time_format.hpp"
#include "zlu-base/src/utf8.hpp"

namespace harness {

std::string render_start_line(const RunStart& start) {
  std::string seed = start.shuffle_seed ? fmt::format(" (shuffle seed: {})", *start.shuffle_seed) : "";
  return fmt::format("\nrunning {} test{}{}\n", start.test_count, start.test_count == 1 ? "" : "s", seed);
}

std::string render_still_running(const TestDesc& desc) {
  return fmt::format("test {} has been running for over 60 seconds\n", desc.name);
}

void write_block(ConsoleOutput& out, std::string_view title, const std::vector<TestOutput>& tests) {
  const std::string heading = fmt::format("\n{}:\n", title);
  out.write(heading);
  const bool any_output =
      std::any_of(tests.begin(), tests.end(), [](const TestOutput& t) { return !t.stdout_bytes.empty(); });
  if (any_output) {
    std::string sections = "\n";
    for (const TestOutput& test : tests) {
      if (test.stdout_bytes.empty()) continue;
      sections += fmt::format("---- {} stdout ----\n{}\n", test.desc.name, zlu_base::decode_utf8_lossy(test.stdout_bytes));
    }
    out.write(sections);
  }
  std::vector<std::string_view> names;
  names.reserve(tests.size());
  for (const TestOutput& test : tests) names.push_back(test.desc.name);
  std::sort(names.begin(), names.end());
  std::string listing = heading;
  for (std::string_view name : names) listing += fmt::format("    {}\n", name);
  out.write(listing);
}

std::string render_flaky_line(const std::vector<TestDesc>& flaky) {
  std::vector<std::string_view> names;
  names.reserve(flaky.size());
  for (const TestDesc& desc : flaky) names.push_back(desc.name);
  std::sort(names.begin(), names.end());
  return fmt::format("flaky test{}: {}\n\n", names.size() == 1 ? "" : "s", fmt::join(names, ", "));
}

void write_summary(ConsoleOutput& out, const ConsoleTestState& state, bool show_output) {
  if (show_output) write_block(out, "successes", state.passes);
  if (!state.failures.empty()) write_block(out, "failures", state.failures);
  for (const ReasonBlock& block : state.reason_failures)
    write_block(out, fmt::format("failures ({})", block.reason), block.tests);

  out.write("\ntest result: ");
  if (state.succeeded()) {
    out.write_colored(Color::Green, "ok");
  } else {
    out.write_colored(Color::Red, "FAILED");
  }
  const std::string elapsed = state.exec_time ? fmt::format("; finished in {}s", render_suite_time(*state.exec_time)) : "";
  out.write(fmt::format(". {} passed; {} failed; {} ignored; {} measured; {} filtered out{}\n\n", state.passed,
                        state.failed, state.ignored, state.measured, state.filtered_out, elapsed));
  if (!state.flaky.empty()) out.write(render_flaky_line(state.flaky));

  if (state.total == 1 && state.ignored == 1 && state.last_ignored && state.last_ignored->ignore_message) {
    out.write(fmt::format("test: {}, ignore_message: {}\n\n", state.last_ignored->name,
                          *state.last_ignored->ignore_message));
  }
}

}  // namespace harness
