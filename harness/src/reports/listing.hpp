// What `--list` prints.
#pragma once

#include <string>

#include "options/options.hpp"
#include "options/selection.hpp"

namespace harness {

// What `--list` prints for `selection` in the options' format, and the lines
// it writes to the log file (empty without one).
struct Listing {
  std::string stdout_text;
  std::string logfile_text;
};
Listing render_list(const TestOpts& opts, const Selection& selection);

}  // namespace harness
