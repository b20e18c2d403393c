// zlu-e2e: the suite's companion tool. Takes its own options out of the
// command line, wherever they stand, and hands the rest to the subcommand.
#include <cstdlib>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "command.hpp"
#include "zlu-base/src/fd.hpp"
#include "zlu-history/src/location.hpp"

namespace zlu_e2e {

namespace {

int run(int argc, char** argv) {
  Invocation invocation;
  std::optional<std::string> name;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      zlu_base::write_all(1, usage_text());
      return 0;
    }
    if (arg == "--json") {
      invocation.json = true;
    } else if (arg == "--history") {
      if (i + 1 == argc) return usage_error("--history needs a value");
      invocation.history = argv[++i];
    } else if (arg.starts_with("--history=")) {
      invocation.history = std::string(arg.substr(10));
    } else if (!name) {
      if (arg.starts_with("-")) return usage_error(fmt::format("unknown option {}", arg));
      name = std::string(arg);
    } else {
      invocation.args.emplace_back(arg);
    }
  }
  if (!name) return usage_error("no command given");
  if (!invocation.history) {
    if (const char* value = std::getenv(zlu_history::HISTORY_VARIABLE.data())) {
      invocation.history = value;
      invocation.history_source = zlu_history::HISTORY_VARIABLE;
    }
  }
  for (const auto& command : commands()) {
    if (command.name == *name) return command.run(invocation);
  }
  return usage_error(fmt::format("unknown command {}", *name));
}

}  // namespace

}  // namespace zlu_e2e

int main(int argc, char** argv) { return zlu_e2e::run(argc, argv); }
