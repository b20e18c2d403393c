// A test failure: raised by `fail`, caught at the worker's boundary, reported
// as the "panicked at" lines.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <vector>

#include "lib.hpp"

namespace harness {

class TestFailure {
  // The exception `fail` throws. It records the call's location and the stack
  // at that moment, so that the report can show where the failure happened
  // even though it is caught far away.
 public:
  TestFailure(std::string message, std::source_location location);

  const std::string& message() const { return message_; }
  const std::source_location& location() const { return location_; }
  const std::vector<void*>& frames() const { return frames_; }

 private:
  std::string message_;
  std::source_location location_;
  std::vector<void*> frames_;
};

struct FailureReport {
  // Where and why a body failed, whatever it raised.
  std::string message;
  std::string file;
  unsigned line = 0;
  unsigned column = 0;
  std::vector<void*> frames;  // empty when the stack is unknown
};

// The report for the exception `error` that escaped the body of `desc`: a
// `TestFailure` keeps its own location; any other exception is placed at the
// test's declaration and described by its what() ("unknown exception" when it
// is not a std::exception).
FailureReport describe_failure(std::exception_ptr error, const TestDesc& desc);

// Whether reports carry the stack of the failing point instead of the note
// that tells how to get it. Set once by the entry, before any test runs.
void set_backtrace_enabled(bool enabled);

// Writes the "panicked at" report of `report` for the thread running `test_name`
// into the current capture (standard error when capture is off), followed by a
// backtrace when enabled, else by the backtrace note on the first failure of
// the process.
void report_failure(std::string_view test_name, const FailureReport& report);

}  // namespace harness
