#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

#include "reports/terse.hpp"

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
  return CompletedTest{0, desc, outcome, std::nullopt, {}};
}

TEST(TerseFormatter, WrapsAfter88CharactersWithTheProgress) {
  CapturedConsole console;
  TerseFormatter terse(console.out(), {});
  ConsoleTestState state;
  terse.run_started({200, 0, std::nullopt});
  for (int i = 0; i < 200; ++i) terse.test_result(result("t", TestResult::ok()), state);
  EXPECT_EQ(console.text(),
            "\nrunning 200 tests\n" + std::string(88, '.') + " 88/200\n" + std::string(88, '.') + " 176/200\n" +
                std::string(24, '.'));
}

TEST(TerseFormatter, FailureEndsTheCurrentLineWithTheProgressFirst) {
  CapturedConsole console;
  TerseFormatter terse(console.out(), {});
  ConsoleTestState state;
  terse.run_started({5, 0, std::nullopt});
  terse.test_result(result("a", TestResult::failed()), state);
  terse.test_result(result("b", TestResult::ok()), state);
  terse.test_result(result("c", TestResult::ignored()), state);
  terse.test_result(result("d", TestResult::time_limit_exceeded()), state);
  terse.test_result(result("e", TestResult::ok()), state);
  EXPECT_EQ(console.text(), "\nrunning 5 tests\na --- FAILED\n.i 3/5\nd --- FAILED\n.");
}

TEST(TerseFormatter, ColumnCountRestartsAfterAFailureLine) {
  CapturedConsole console;
  TerseFormatter terse(console.out(), {});
  ConsoleTestState state;
  terse.run_started({100, 0, std::nullopt});
  for (int i = 0; i < 10; ++i) terse.test_result(result("t", TestResult::ok()), state);
  terse.test_result(result("f", TestResult::failed()), state);
  for (int i = 0; i < 89; ++i) terse.test_result(result("t", TestResult::ok()), state);
  EXPECT_EQ(console.text(), "\nrunning 100 tests\n" + std::string(10, '.') + " 10/100\nf --- FAILED\n" +
                                std::string(88, '.') + " 99/100\n.");
}

}  // namespace
}  // namespace harness
