#include <iostream>

#include "report_command.hpp"
#include "subcommands.hpp"

namespace zlu_e2e {

int run_report(const Invocation& invocation) { return report_page::report_command(invocation.args, std::cerr); }

}  // namespace zlu_e2e
