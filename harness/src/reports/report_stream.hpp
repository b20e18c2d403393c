// Where the report goes when standard output must hold nothing but the report.
#pragma once

#include <expected>

#include "options/report_options.hpp"

namespace harness {

// The descriptor the report of `format` is written to. For the JSON and
// JUnit formats, whose readers parse standard output, it is a private
// duplicate of standard output (not inherited by child processes), and
// descriptor 1 is pointed at standard error: output of runners a test starts,
// and of bodies that run without capture, then lands on standard error
// instead of corrupting the report. For the console formats it is 1,
// unchanged. The error is the errno of a failed dup.
std::expected<int, int> claim_report_stream(OutputFormat format);

}  // namespace harness
