#include "options/help.hpp"

#include <fmt/format.h>

#include "options/command_line.hpp"
#include "options/options.hpp"

namespace harness {
namespace {

constexpr std::size_t description_column = 24;
constexpr std::size_t description_width = 54;

constexpr std::string_view fixed_text = R"(The FILTER string is tested against the name of all tests, and only those
tests whose names contain the filter are run. Multiple filter strings may
be passed, which will run all tests matching any of the filters.

By default, all tests are run in parallel. This can be altered with the
--test-threads flag when running tests (set it to 1).

By default, the tests are run in alphabetical order. Use --shuffle to run
the tests in random order. Pass the generated "shuffle seed" to
--shuffle-seed to run the tests in the same order again. Note that
--shuffle and --shuffle-seed do not affect whether the tests are run in
parallel.

All tests have their standard output and standard error captured by default.
This can be overridden with the --no-capture flag to a value other than "0".
Logging is not captured by default.

Test Attributes:

    TestDescAndFn{desc, testfn} - An entry of the test table marks testfn
        as a test named desc.name. The test passes when testfn returns and
        fails when it raises a failure.
    Benchmarks - The table has no kind of entry for them: --list counts
        them and --bench asks for them, but this harness never runs a
        benchmark as such; with --bench alone every selected test is
        reported as ignored.
    desc.should_panic = ShouldPanic{ShouldPanicKind::Yes} - The test passes
        only if it fails. ShouldPanic{ShouldPanicKind::YesWithMessage, text}
        also requires the failure message to contain text.
    desc.ignore = true - The test is not run, only reported as ignored
        (with desc.ignore_message, when set), unless --ignored or
        --include-ignored is given.
)";

// The first column of an option's row: letter, long name and hint.
std::string row_head(const OptionSpec& option) {
  std::string head = "    ";
  if (option.letter != '\0') head += fmt::format("-{}{}", option.letter, option.name.empty() ? " " : ", ");
  else head += "    ";
  if (!option.name.empty()) head += fmt::format("--{} ", option.name);
  head += option.hint;
  return head;
}

// The description's lines refilled to the description width; a word longer
// than the width stands alone, and stored lines without words give none.
std::vector<std::string> refill(std::span<const std::string_view> lines) {
  std::vector<std::string> filled;
  for (const std::string_view line : lines) {
    std::string current;
    std::size_t at = 0;
    while (true) {
      at = line.find_first_not_of(" \t", at);
      if (at == std::string_view::npos) break;
      const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
      const std::string_view word = line.substr(at, end - at);
      at = end;
      if (!current.empty() && current.size() + 1 + word.size() > description_width) {
        filled.push_back(std::move(current));
        current.clear();
      }
      if (!current.empty()) current += ' ';
      current += word;
    }
    if (!current.empty()) filled.push_back(std::move(current));
  }
  return filled;
}

}  // namespace

std::string help_text(std::string_view program_name) {
  std::string text = fmt::format("Usage: {} [OPTIONS] [FILTERS...]\n\nOptions:\n", program_name);
  const std::string indent(description_column, ' ');
  for (const OptionSpec& option : option_table()) {
    if (!option.in_help) continue;
    std::string row = row_head(option);
    if (row.size() < description_column) row.resize(description_column, ' ');
    else row += "\n" + indent;
    const auto lines = refill(option.description);
    for (std::size_t i = 0; i < lines.size(); ++i) row += (i == 0 ? "" : indent) + lines[i] + "\n";
    if (lines.empty()) row += "\n";
    text += row;
  }
  text += "\n";
  text += fixed_text;
  return text;
}

}  // namespace harness
