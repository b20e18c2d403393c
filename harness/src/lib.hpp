// A test runner for executables that carry a fixed table of tests: the
// executable's entry hands its table to `test_main_static`, which parses the
// command line, runs the selected tests on worker threads and reports them.
#pragma once

#include <cstdint>
#include <optional>
#include <source_location>
#include <span>
#include <string>
#include <string_view>

namespace harness {

// Whether a test passes only by failing (none of ours do, but the runner honours it).
enum class ShouldPanicKind { No, Yes, YesWithMessage };
struct ShouldPanic {
  ShouldPanicKind kind = ShouldPanicKind::No;
  std::string_view expected;  // with YesWithMessage: text the failure message must contain
};

// Selects the time thresholds a test is judged by.
enum class TestType { UnitTest, IntegrationTest, DocTest, Unknown };

// A test's descriptor, fixed at build time.
struct TestDesc {
  std::string_view name;
  bool ignore = false;
  std::optional<std::string_view> ignore_message;
  std::string_view source_path;
  unsigned start_line = 0;
  unsigned start_col = 0;
  unsigned end_line = 0;
  unsigned end_col = 0;
  ShouldPanic should_panic;
  bool compile_fail = false;
  bool no_run = false;
  TestType test_type = TestType::Unknown;
};

// A test body: returning passes, raising a failure (see `fail`) fails.
using TestFn = void (*)();

struct TestDescAndFn {
  TestDesc desc;
  TestFn testfn;
};

// Runs or lists the tests of `tests` as the command line `args` asks (args[0]
// is the program name) and returns the process exit status: 0 when no
// selected test failed, 101 otherwise.
int test_main_static(std::span<const std::string> args, std::span<const TestDescAndFn> tests);

// Fails the current test with `message`. The failure travels to the worker's
// boundary, which reports it with the source location of this call.
[[noreturn]] void fail(std::string message, std::source_location location = std::source_location::current());

// Writes a test body's output: into the test's capture buffer while capture is
// on, else straight to standard output (print) or standard error (eprint).
void print(std::string_view text);
void eprint(std::string_view text);

// Attaches the property `name` with `value` to the result of the test that
// runs on the calling thread; the machine-readable reports carry it with the
// result. Recording a name again replaces its value. Outside a test body it
// does nothing.
void record_property(std::string name, std::string value);

// Which try of its test the body on the calling thread is: 1 for the first
// run, 2 for the first run again after a failure (ZLU_TEST_RETRIES), and so
// on; 0 outside a test body.
unsigned current_try();

}  // namespace harness
