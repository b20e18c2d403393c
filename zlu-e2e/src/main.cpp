// zlu-e2e: the suite's companion tool. Each subcommand is one entry of the
// table below and lives in its own component.
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report_command.hpp"

namespace {

struct Command {
  std::string_view name;
  std::string_view summary;
  int (*run)(std::span<const std::string> args, std::ostream& err);
};

constexpr Command COMMANDS[] = {
    {"report", "write one HTML page of a run or a fleet job", report_page::report_command},
};

int usage(std::ostream& out, int status) {
  out << "usage: zlu-e2e COMMAND [ARGS]\n";
  for (const Command& command : COMMANDS) out << "  " << command.name << "  " << command.summary << "\n";
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage(std::cerr, 2);
  if (args[0] == "--help" || args[0] == "-h") return usage(std::cout, 0);
  for (const Command& command : COMMANDS) {
    if (command.name == args[0]) return command.run(std::span(args).subspan(1), std::cerr);
  }
  std::cerr << "zlu-e2e: unknown command \"" << args[0] << "\"\n";
  return usage(std::cerr, 2);
}
