#include "reports/listing.hpp"

#include <fmt/format.h>

#include "reports/json.hpp"
#include "reports/logfile.hpp"
#include "options/options.hpp"

namespace harness {
namespace {

std::string counted(std::size_t count, std::string_view noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

// One "discovered" event per test, with what its descriptor says, then a
// "completed" event with the counts.
std::string render_json_list(const Selection& selection) {
  std::string text = JsonLine().text("type", "suite").text("event", "discovery").line();
  std::size_t ignored = 0;
  for (const TestDescAndFn& test : selection.tests) {
    const TestDesc& desc = test.desc;
    if (desc.ignore) ++ignored;
    JsonLine event;
    event.text("type", "test").text("event", "discovered").text("name", desc.name);
    event.boolean("ignore", desc.ignore);
    if (desc.ignore_message) event.text("ignore_message", *desc.ignore_message);
    event.text("source_path", desc.source_path).number("start_line", desc.start_line);
    event.number("start_col", desc.start_col).number("end_line", desc.end_line).number("end_col", desc.end_col);
    text += event.line();
  }
  JsonLine completed;
  completed.text("type", "suite").text("event", "completed").number("tests", selection.tests.size());
  completed.number("benchmarks", 0).number("total", selection.tests.size()).number("ignored", ignored);
  return text + completed.line();
}

}  // namespace

Listing render_list(const TestOpts& opts, const Selection& selection) {
  Listing listing;
  if (opts.logfile) {
    for (const TestDescAndFn& test : selection.tests) listing.logfile_text += render_listed_line(test.desc);
  }
  if (opts.format == OutputFormat::Json) {
    listing.stdout_text = render_json_list(selection);
    return listing;
  }
  for (const TestDescAndFn& test : selection.tests) listing.stdout_text += fmt::format("{}: test\n", test.desc.name);
  if (opts.format == OutputFormat::Terse) return listing;
  // The table has no benchmark entries, so none is ever counted.
  if (!selection.tests.empty()) listing.stdout_text += "\n";
  listing.stdout_text += fmt::format("{}, {}\n", counted(selection.tests.size(), "test"), counted(0, "benchmark"));
  return listing;
}

}  // namespace harness
