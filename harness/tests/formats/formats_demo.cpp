// A small test executable on the harness whose results exercise the machine
// readable reports: passes, a failure whose output and message hold
// characters that JSON and XML must escape, ignored tests, a slow test for
// the time limit, and a test whose child process writes to standard output.
#include <chrono>
#include <cstdlib>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "../demo_table.hpp"

extern char** environ;

namespace {

void child_writes_to_stdout() {
  const char* argv[] = {"sh", "-c", "echo output of the child process", nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    harness::fail("cannot start the child process");
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) harness::fail("the child process failed");
}

void fails_with_awkward_output() {
  harness::print("quote \" less < amp & apos ' bell \x07 escape \x1b[31m bad \xff end\n");
  harness::fail("left \"a\" < right & 'b'\x01");
}

void must_not_run() { harness::fail("an ignored test must not run"); }

void passes_quietly() {}

void prints_and_passes() { harness::print("output of a passing test\n"); }

// Sleeps for ZLU_DEMO_SLEEP_MS milliseconds (default 30), so that the time
// limit of `--ensure-time` has something to catch.
void sleeps_then_passes() {
  const char* value = std::getenv("ZLU_DEMO_SLEEP_MS");
  std::this_thread::sleep_for(std::chrono::milliseconds(value != nullptr ? std::atoi(value) : 30));
}



constexpr harness::TestDescAndFn demo(std::string_view name, harness::TestFn fn, unsigned line) {
  return harness::demo::entry("harness/tests/formats/formats_demo.cpp", name, fn, line);
}
using harness::demo::ignored;

// Sorted by name, as the harness expects of a table.
const std::vector<harness::TestDescAndFn> tests = {
    demo("child_writes_to_stdout", child_writes_to_stdout, 19),
    demo("fails_with_awkward_output", fails_with_awkward_output, 30),
    ignored(demo("ignored_plain", must_not_run, 35), std::nullopt),
    ignored(demo("ignored_with_<message>", must_not_run, 35), "needs a \"card\" & <power>"),
    demo("passes_quietly", passes_quietly, 37),
    demo("prints_and_passes", prints_and_passes, 39),
    demo("sleeps_then_passes", sleeps_then_passes, 43),
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  return harness::test_main_static(args, tests);
}
