// What every subcommand of the tool is given and how it is listed.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zlu_e2e {

// The exit status of a usage error or of a store that cannot be read.
inline constexpr int USAGE_OR_STORE_ERROR = 2;

struct Invocation {
  // The command line with the tool's own options taken out.
  std::vector<std::string> args;        // after the subcommand's name
  std::optional<std::string> history;   // --history, else ZLU_TEST_HISTORY
  std::string_view history_source = "--history";  // which of the two, for messages
  bool json = false;                    // --json: JSON for scripts instead of text
};

struct Command {
  // A subcommand: its name, its arguments as the usage shows them, one line
  // on what it does, and the function that runs it and returns the exit status.
  std::string_view name;
  std::string_view arguments;
  std::string_view summary;
  int (*run)(const Invocation& invocation);
};

// Every subcommand, in the order the usage lists them.
std::span<const Command> commands();

// The tool's usage: its options and every subcommand.
std::string usage_text();

// Writes "zlu-e2e: <message>" and a pointer to the usage to standard error and
// returns USAGE_OR_STORE_ERROR.
int usage_error(std::string_view message);

}  // namespace zlu_e2e
