// A small test executable on the harness, with bodies that pass, fail in the
// ways a body can fail, print, sleep and start a child process. The harness's
// end-to-end tests run it as a child and compare what it reports.
#include <chrono>
#include <cstdlib>
#include <pthread.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "../demo_table.hpp"

extern char** environ;

namespace {

void child_output_is_not_captured() {
  harness::print("body output before the child\n");
  const char* argv[] = {"sh", "-c", "echo output of the child process", nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    harness::fail("cannot start the child process");
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) harness::fail("the child process failed");
}

void ends_its_thread_early() { pthread_exit(nullptr); }

void fails_via_fail() { harness::fail("assertion `left == right` failed\n  left: 1\n right: 2"); }

void ignored_with_message() { harness::fail("an ignored test must not run"); }

void passes_quietly() {}

void prints_and_passes() { harness::print("output of a passing test\n"); }

void prints_then_fails() {
  harness::print("written before the failure\n");
  harness::eprint("written to the error stream\n");
  harness::fail("failed after printing");
}

// Sleeps for ZLU_DEMO_SLEEP_MS milliseconds (default 30), so that the time
// reports and the still-running warning have something to measure.
void sleeps_then_passes() {
  const char* value = std::getenv("ZLU_DEMO_SLEEP_MS");
  std::this_thread::sleep_for(std::chrono::milliseconds(value != nullptr ? std::atoi(value) : 30));
}

void throws_runtime_error() { throw std::runtime_error("plain exception text"); }

void throws_non_exception() { throw 42; }

void writes_invalid_utf8() {
  harness::print("bytes \xff and \xe2\x82 then text\n");
  harness::fail("the output above holds invalid UTF-8");
}



constexpr harness::TestDescAndFn demo(std::string_view name, harness::TestFn fn, unsigned line) {
  return harness::demo::entry("harness/tests/e2e/demo_tests.cpp", name, fn, line);
}
using harness::demo::ignored;

// Sorted by name, as the harness expects of a table.
const std::vector<harness::TestDescAndFn> tests = {
    demo("child_output_is_not_captured", child_output_is_not_captured, 20),
    demo("ends_its_thread_early", ends_its_thread_early, 32),
    demo("fails_via_fail", fails_via_fail, 34),
    ignored(demo("ignored_with_message", ignored_with_message, 36), "needs a card"),
    demo("passes_quietly", passes_quietly, 38),
    demo("prints_and_passes", prints_and_passes, 40),
    demo("prints_then_fails", prints_then_fails, 42),
    demo("sleeps_then_passes", sleeps_then_passes, 50),
    demo("throws_non_exception", throws_non_exception, 57),
    demo("throws_runtime_error", throws_runtime_error, 55),
    demo("writes_invalid_utf8", writes_invalid_utf8, 59),
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  return harness::test_main_static(args, tests);
}
