// How a try's captured runner output reads in the reports that show it as
// text: the console's summary blocks and JUnit's system-err.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lib.hpp"

namespace harness {

// Each runner's output under a line "---- runner <program> ----", in the
// order kept, ending with a line end, and followed by "note: output cut: the
// runner wrote more than was kept\n" when it was cut. A runner that wrote
// nothing and was not cut is left out; empty when none is left.
std::string render_runner_output(const std::vector<RunnerOutput>& outputs);

// A try's output as a summary block shows it: what the body printed, then
// its runners' output as render_runner_output gives it.
std::string output_with_runners(std::string_view stdout_bytes, const std::vector<RunnerOutput>& outputs);

}  // namespace harness
