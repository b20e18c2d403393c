// Running the demo test executable as a child process, the way a user meets
// the harness: with a controlled environment, its standard output on a pipe,
// a pseudo-terminal, a pipe already closed, or closed itself.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace harness_e2e {

enum class StdoutKind { Pipe, Terminal, ClosedPipe, Closed };  // Closed: no descriptor 1 at all

struct ChildRun {
  std::string stdout_text;
  std::string stderr_text;
  int exit_status = -1;  // -1 when the child did not exit normally
  int signal = 0;        // the signal that ended it, else 0
};

// Runs the demo executable with `args` (without the program name) and only
// the variables of `env` in its environment, besides PATH and the sanitizer
// settings.
ChildRun run_demo(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                  StdoutKind stdout_kind = StdoutKind::Pipe);

// The lines of `text`, each without its line end.
std::vector<std::string> lines_of(const std::string& text);

// `text` with every "finished in <t>s" replaced by "finished in <T>s" and
// every " <t>s>" time by " <T>", so reports compare across runs.
std::string without_times(const std::string& text);

// `text` with the thread ids of its "panicked at" lines replaced by "TID".
std::string without_thread_ids(const std::string& text);

}  // namespace harness_e2e
