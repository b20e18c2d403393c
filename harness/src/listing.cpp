#include <fmt/format.h>

#include "options.hpp"

namespace harness {
namespace {

std::string counted(std::size_t count, std::string_view noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

}  // namespace

Listing render_list(const TestOpts& opts, const Selection& selection) {
  Listing listing;
  for (const TestDescAndFn& test : selection.tests) {
    listing.stdout_text += fmt::format("{}: test\n", test.desc.name);
    if (opts.logfile) listing.logfile_text += fmt::format("test {}\n", test.desc.name);
  }
  if (opts.format == OutputFormat::Terse) return listing;
  // The table has no benchmark entries, so none is ever counted.
  if (!selection.tests.empty()) listing.stdout_text += "\n";
  listing.stdout_text += fmt::format("{}, {}\n", counted(selection.tests.size(), "test"), counted(0, "benchmark"));
  return listing;
}

}  // namespace harness
