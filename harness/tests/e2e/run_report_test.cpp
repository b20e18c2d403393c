// The run loop and the pretty report as a user of a test executable sees
// them: the demo executable runs as a child and its output is compared.
#include <algorithm>
#include <gtest/gtest.h>

#include "child_process.hpp"

namespace harness_e2e {
namespace {

const std::map<std::string, std::string> serial = {{"ZLU_TEST_THREADS", "1"}};

TEST(RunReport, SerialRunReportsEveryTestInTableOrderWithTheFailuresBlock) {
  const ChildRun run = run_demo({}, {{"ZLU_TEST_THREADS", "3"}});
  const ChildRun serial_run = run_demo({}, serial);
  EXPECT_EQ(serial_run.exit_status, 101);
  EXPECT_EQ(serial_run.stderr_text, "");
  EXPECT_EQ(without_thread_ids(without_times(serial_run.stdout_text)),
            "\nrunning 11 tests\n"
            "test child_output_is_not_captured ... output of the child process\nok\n"
            "test ends_its_thread_early ... FAILED\n"
            "test fails_via_fail ... FAILED\n"
            "test ignored_with_message ... ignored, needs a card\n"
            "test passes_quietly ... ok\n"
            "test prints_and_passes ... ok\n"
            "test prints_then_fails ... FAILED\n"
            "test sleeps_then_passes ... ok\n"
            "test throws_non_exception ... FAILED\n"
            "test throws_runtime_error ... FAILED\n"
            "test writes_invalid_utf8 ... FAILED\n"
            "\nfailures:\n\n"
            "---- ends_its_thread_early stdout ----\nnote: the test's thread ended before the test finished\n"
            "---- fails_via_fail stdout ----\n"
            "\nthread 'fails_via_fail' (TID) panicked at harness/tests/e2e/demo_tests.cpp:34:38:\n"
            "assertion `left == right` failed\n  left: 1\n right: 2\n"
            "note: run with `ZLU_TEST_BACKTRACE=1` environment variable to display a backtrace\n\n"
            "---- prints_then_fails stdout ----\n"
            "written before the failure\nwritten to the error stream\n"
            "\nthread 'prints_then_fails' (TID) panicked at harness/tests/e2e/demo_tests.cpp:45:16:\n"
            "failed after printing\n\n"
            "---- throws_non_exception stdout ----\n"
            "\nthread 'throws_non_exception' (TID) panicked at harness/tests/e2e/demo_tests.cpp:57:6:\n"
            "unknown exception\n\n"
            "---- throws_runtime_error stdout ----\n"
            "\nthread 'throws_runtime_error' (TID) panicked at harness/tests/e2e/demo_tests.cpp:55:6:\n"
            "plain exception text\n\n"
            "---- writes_invalid_utf8 stdout ----\n"
            "bytes \xEF\xBF\xBD and \xEF\xBF\xBD then text\n"
            "\nthread 'writes_invalid_utf8' (TID) panicked at harness/tests/e2e/demo_tests.cpp:61:16:\n"
            "the output above holds invalid UTF-8\n\n"
            "\nfailures:\n"
            "    ends_its_thread_early\n    fails_via_fail\n    prints_then_fails\n    throws_non_exception\n"
            "    throws_runtime_error\n    writes_invalid_utf8\n"
            "\ntest result: FAILED. 4 passed; 6 failed; 1 ignored; 0 measured; 0 filtered out; finished in <T>s\n\n");

  // Concurrently, the same results arrive in completion order with the whole
  // line at once, and the summary is the same.
  EXPECT_EQ(run.exit_status, 101);
  std::vector<std::string> result_lines, serial_result_lines;
  for (const std::string& line : lines_of(run.stdout_text)) {
    if (line.starts_with("test ") && line.find(" ... ") != std::string::npos) result_lines.push_back(line);
  }
  for (const std::string& line : lines_of(serial_run.stdout_text)) {
    if (line.starts_with("test ") && line.find(" ... ") != std::string::npos) serial_result_lines.push_back(line);
  }
  // The serial run's child output splits its first line.
  serial_result_lines[0] = "test child_output_is_not_captured ... ok";
  std::sort(result_lines.begin(), result_lines.end());
  EXPECT_EQ(result_lines, serial_result_lines);
  EXPECT_NE(run.stdout_text.find("\ntest result: FAILED. 4 passed; 6 failed; 1 ignored; 0 measured; 0 filtered out;"),
            std::string::npos);
  EXPECT_NE(run.stdout_text.find("output of the child process\n"), std::string::npos);
}

TEST(RunReport, PassingRunOfOneTestSaysTestAndExitsZero) {
  const ChildRun run = run_demo({"passes_quietly"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(without_times(run.stdout_text),
            "\nrunning 1 test\ntest passes_quietly ... ok\n"
            "\ntest result: ok. 1 passed; 0 failed; 0 ignored; 0 measured; 10 filtered out; finished in <T>s\n\n");
}

TEST(RunReport, SingleIgnoredTestWithMessageGetsTheIgnoreLine) {
  const ChildRun run = run_demo({"ignored_with_message"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(without_times(run.stdout_text),
            "\nrunning 1 test\ntest ignored_with_message ... ignored, needs a card\n"
            "\ntest result: ok. 0 passed; 0 failed; 1 ignored; 0 measured; 10 filtered out; finished in <T>s\n\n"
            "test: ignored_with_message, ignore_message: needs a card\n\n");
}

TEST(RunReport, WithoutCaptureTheBodyAndTheFailureReportGoToTheRealStreams) {
  const ChildRun run = run_demo({"--no-capture", "prints_then_fails"}, serial);
  EXPECT_EQ(run.exit_status, 101);
  EXPECT_EQ(without_times(run.stdout_text),
            "\nrunning 1 test\ntest prints_then_fails ... written before the failure\nFAILED\n"
            "\nfailures:\n\nfailures:\n    prints_then_fails\n"
            "\ntest result: FAILED. 0 passed; 1 failed; 0 ignored; 0 measured; 10 filtered out; finished in <T>s\n\n");
  EXPECT_EQ(without_thread_ids(run.stderr_text),
            "written to the error stream\n"
            "\nthread 'prints_then_fails' (TID) panicked at harness/tests/e2e/demo_tests.cpp:45:16:\n"
            "failed after printing\n"
            "note: run with `ZLU_TEST_BACKTRACE=1` environment variable to display a backtrace\n");
}

TEST(RunReport, ShowOutputAddsTheSuccessesBlockBeforeTheFailures) {
  const ChildRun run = run_demo({"--show-output", "--test-threads", "1", "prints_"});
  EXPECT_EQ(run.exit_status, 101);
  const std::string text = without_thread_ids(without_times(run.stdout_text));
  const std::string successes =
      "\nsuccesses:\n\n---- prints_and_passes stdout ----\noutput of a passing test\n\n"
      "\nsuccesses:\n    prints_and_passes\n";
  ASSERT_NE(text.find(successes), std::string::npos) << text;
  EXPECT_LT(text.find(successes), text.find("\nfailures:\n"));
}

TEST(RunReport, BacktraceVariableShowsTheStackInsteadOfTheNote) {
  const ChildRun run = run_demo({"fails_via_fail"}, {{"ZLU_TEST_BACKTRACE", "1"}});
  EXPECT_EQ(run.exit_status, 101);
  EXPECT_NE(run.stdout_text.find("right: 2\nstack backtrace:\n"), std::string::npos) << run.stdout_text;
  // The stack is taken where the failure is raised, so it passes through the
  // harness's code that ran the body.
  EXPECT_NE(run.stdout_text.find("execute_test"), std::string::npos) << run.stdout_text;
  EXPECT_EQ(run.stdout_text.find("note: run with"), std::string::npos);
}

TEST(RunReport, StillRunningWarningComesOnceAndOnlyInConcurrentRuns) {
  const std::map<std::string, std::string> env = {{"ZLU_TEST_WARN_AFTER_MS", "100"}, {"ZLU_DEMO_SLEEP_MS", "700"}};
  const std::string warning = "test sleeps_then_passes has been running for over 60 seconds\n";

  const ChildRun concurrent = run_demo({"--test-threads", "2", "sleeps_then_passes", "passes_quietly"}, env);
  EXPECT_EQ(concurrent.exit_status, 0);
  const std::size_t at = concurrent.stdout_text.find(warning);
  ASSERT_NE(at, std::string::npos) << concurrent.stdout_text;
  EXPECT_EQ(concurrent.stdout_text.find(warning, at + 1), std::string::npos) << concurrent.stdout_text;
  EXPECT_LT(at, concurrent.stdout_text.find("test sleeps_then_passes ... ok\n"));

  const ChildRun serial_run = run_demo({"--test-threads", "1", "sleeps_then_passes"}, env);
  EXPECT_EQ(serial_run.stdout_text.find("has been running"), std::string::npos) << serial_run.stdout_text;
}

TEST(RunReport, FailFastStopsAfterTheFirstFailure) {
  const ChildRun run = run_demo({"-Z", "unstable-options", "--fail-fast", "--test-threads", "1"},
                                {{"ZLU_TEST_BOOTSTRAP", "1"}});
  EXPECT_EQ(run.exit_status, 101);
  const std::string text = without_times(run.stdout_text);
  EXPECT_TRUE(text.starts_with("\nrunning 11 tests\n"
                               "test child_output_is_not_captured ... output of the child process\nok\n"
                               "test ends_its_thread_early ... FAILED\n\nfailures:\n"))
      << text;
  EXPECT_TRUE(text.ends_with(
      "\ntest result: FAILED. 1 passed; 1 failed; 0 ignored; 0 measured; 0 filtered out; finished in <T>s\n\n"))
      << text;
  EXPECT_EQ(text.find("test fails_via_fail"), std::string::npos);
}

TEST(RunReport, TerseFormatWritesACharacterPerTestAndALinePerFailure) {
  const ChildRun run = run_demo({"-q", "--skip", "child"}, serial);
  EXPECT_EQ(run.exit_status, 101);
  EXPECT_TRUE(run.stdout_text.starts_with("\nrunning 10 tests\n"
                                          "ends_its_thread_early --- FAILED\n"
                                          "fails_via_fail --- FAILED\n"
                                          "i.. 5/10\n"
                                          "prints_then_fails --- FAILED\n"
                                          ". 7/10\n"
                                          "throws_non_exception --- FAILED\n"
                                          "throws_runtime_error --- FAILED\n"
                                          "writes_invalid_utf8 --- FAILED\n"
                                          "\nfailures:\n"))
      << run.stdout_text;
  EXPECT_NE(run.stdout_text.find("\ntest result: FAILED. 3 passed; 6 failed; 1 ignored; 0 measured; 1 filtered out;"),
            std::string::npos);
}

}  // namespace
}  // namespace harness_e2e
