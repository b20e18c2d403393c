// `report -o FILE`: the report page of a run or of a fleet job.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "run_data.hpp"

namespace report_page {

// Runs the command with its arguments (after the command's name), adding
// what they name to `data` (which may hold a recorded run already); usage
// and input errors go to `err`. A run given without --host ran on
// `this_host`. Returns the process's exit status: 0 when the page was
// written, 2 for usage and input errors.
int report_command(std::span<const std::string> args, RunData data, std::string_view this_host, std::ostream& err);

// The command's usage, as shown after a usage error.
extern const char* const report_usage;

}  // namespace report_page
