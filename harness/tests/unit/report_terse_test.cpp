#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

#include "reports/terse.hpp"
#include "run/execute.hpp"

namespace harness {
namespace {

// A ConsoleOutput over a temporary file that the test reads back.
class CapturedConsole {
 public:
  CapturedConsole() : file_(std::tmpfile()), out_(fileno(file_), Palette{}) {}
  ~CapturedConsole() { std::fclose(file_); }
  ConsoleOutput& out() { return out_; }
  std::string text() {
    std::string text;
    char buffer[4096];
    ::lseek(fileno(file_), 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fileno(file_), buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }

 private:
  std::FILE* file_;
  ConsoleOutput out_;
};

CompletedTest result(std::string_view name, TestResult outcome) {
  TestDesc desc;
  desc.name = name;
  return single_try(0, desc, outcome);
}

// Hands `test` to `terse` as the run loop would, with `counts` counting it.
void report(TerseFormatter& terse, RunCounts& counts, const CompletedTest& test) {
  counts.count(test);
  terse.test_result({{}, test, counts});
}

TEST(TerseFormatter, WrapsAfter88CharactersWithTheProgress) {
  CapturedConsole console;
  TerseFormatter terse(console.out(), {});
  RunCounts counts;
  terse.run_started({200, 0, std::nullopt});
  for (int i = 0; i < 200; ++i) report(terse, counts, result("t", TestResult::ok()));
  EXPECT_EQ(console.text(),
            "\nrunning 200 tests\n" + std::string(88, '.') + " 88/200\n" + std::string(88, '.') + " 176/200\n" +
                std::string(24, '.'));
}

TEST(TerseFormatter, FailureEndsTheCurrentLineWithTheProgressFirst) {
  CapturedConsole console;
  TerseFormatter terse(console.out(), {});
  RunCounts counts;
  terse.run_started({5, 0, std::nullopt});
  report(terse, counts, result("a", TestResult::failed()));
  report(terse, counts, result("b", TestResult::ok()));
  report(terse, counts, result("c", TestResult::ignored()));
  report(terse, counts, result("d", TestResult::time_limit_exceeded()));
  report(terse, counts, result("e", TestResult::ok()));
  EXPECT_EQ(console.text(), "\nrunning 5 tests\na --- FAILED\n.i 3/5\nd --- FAILED\n.");
}

TEST(TerseFormatter, ColumnCountRestartsAfterAFailureLine) {
  CapturedConsole console;
  TerseFormatter terse(console.out(), {});
  RunCounts counts;
  terse.run_started({100, 0, std::nullopt});
  for (int i = 0; i < 10; ++i) report(terse, counts, result("t", TestResult::ok()));
  report(terse, counts, result("f", TestResult::failed()));
  for (int i = 0; i < 89; ++i) report(terse, counts, result("t", TestResult::ok()));
  EXPECT_EQ(console.text(), "\nrunning 100 tests\n" + std::string(10, '.') + " 10/100\nf --- FAILED\n" +
                                std::string(88, '.') + " 99/100\n.");
}

}  // namespace
}  // namespace harness
