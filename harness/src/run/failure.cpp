#include "run/failure.hpp"

#include <atomic>
#include <cxxabi.h>
#include <cstdlib>
#include <execinfo.h>
#include <fmt/format.h>
#include <memory>
#include <unistd.h>

#include "run/capture.hpp"

namespace harness {
namespace {

constexpr int max_frames = 64;

std::atomic<bool> backtrace_enabled{false};
std::atomic<bool> note_written{false};

std::vector<void*> capture_frames() {
  std::vector<void*> frames(max_frames);
  const int count = ::backtrace(frames.data(), max_frames);
  frames.resize(static_cast<std::size_t>(count));
  return frames;
}

// "binary(mangled+0x1f) [0x...]" with the name demangled where it can be.
std::string demangle_frame(const char* symbol) {
  std::string frame(symbol);
  const std::size_t open = frame.find('(');
  const std::size_t plus = frame.find('+', open);
  if (open == std::string::npos || plus == std::string::npos || plus == open + 1) return frame;
  const std::string mangled = frame.substr(open + 1, plus - open - 1);
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status),
                                                   &std::free);
  if (status != 0 || !name) return frame;
  return frame.substr(0, open + 1) + name.get() + frame.substr(plus);
}

std::string render_backtrace(const std::vector<void*>& frames) {
  std::string text = "stack backtrace:\n";
  if (frames.empty()) {
    text += "  (no stack recorded for this failure)\n";
    return text;
  }
  std::unique_ptr<char*, decltype(&std::free)> symbols(
      ::backtrace_symbols(frames.data(), static_cast<int>(frames.size())), &std::free);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    text += fmt::format("{:4}: {}\n", i, symbols ? demangle_frame(symbols.get()[i]) : fmt::format("{}", frames[i]));
  }
  return text;
}

}  // namespace

TestFailure::TestFailure(std::string message, std::source_location location)
    : message_(std::move(message)), location_(location), frames_(capture_frames()) {}

void fail(std::string message, std::source_location location) { throw TestFailure(std::move(message), location); }

FailureReport describe_failure(std::exception_ptr error, const TestDesc& desc) {
  FailureReport report{{}, std::string(desc.source_path), desc.start_line, desc.start_col, {}};
  try {
    std::rethrow_exception(error);
  } catch (const TestFailure& failure) {
    report.message = failure.message();
    report.file = failure.location().file_name();
    report.line = failure.location().line();
    report.column = failure.location().column();
    report.frames = failure.frames();
  } catch (const std::exception& other) {
    report.message = other.what();
  } catch (...) {
    report.message = "unknown exception";
  }
  return report;
}

void set_backtrace_enabled(bool enabled) { backtrace_enabled.store(enabled); }

void report_failure(std::string_view test_name, const FailureReport& report) {
  std::string text = fmt::format("\nthread '{}' ({}) panicked at {}:{}:{}:\n{}\n", test_name, ::gettid(), report.file,
                                 report.line, report.column, report.message);
  if (backtrace_enabled.load()) {
    text += render_backtrace(report.frames);
  } else if (!note_written.exchange(true)) {
    text += "note: run with `ZLU_TEST_BACKTRACE=1` environment variable to display a backtrace\n";
  }
  write_test_output(2, text);
}

}  // namespace harness
