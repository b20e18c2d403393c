#include "run/runner_output.hpp"

#include <fmt/format.h>

namespace harness {

std::string render_runner_output(const std::vector<RunnerOutput>& outputs) {
  std::string rendered;
  for (const RunnerOutput& output : outputs) {
    if (output.text.empty() && !output.cut) continue;
    rendered += fmt::format("---- runner {} ----\n{}", output.program, output.text);
    if (!output.text.empty() && output.text.back() != '\n') rendered += '\n';
    if (output.cut) rendered += "note: output cut: the runner wrote more than was kept\n";
  }
  return rendered;
}

std::string output_with_runners(std::string_view stdout_bytes, const std::vector<RunnerOutput>& outputs) {
  return std::string(stdout_bytes) + render_runner_output(outputs);
}

}  // namespace harness
