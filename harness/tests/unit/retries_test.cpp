// Running failed tests again: how many tries a test gets, what its result
// keeps of them, and what is never tried again. The reports of tries are
// checked end to end with the hardware suite.
#include <atomic>
#include <gtest/gtest.h>

#include "run/interrupt.hpp"
#include "run/outcome.hpp"
#include "run/run_loop.hpp"

namespace harness {
namespace {

// Keeps every result and the order of the events that matter here.
class ResultKeeper : public Formatter {
 public:
  void run_started(const RunStart&) override {}
  void test_started(const TestEvent& event) override { events.push_back("started " + std::string(event.desc.name)); }
  void still_running(const TestEvent&) override {}
  void test_result(const ResultEvent& event) override {
    events.push_back("result " + std::string(event.test.desc.name));
    results.push_back(event.test);
  }
  void run_finished(const RunEnd& event) override { final_counts = event.counts; }
  int error() const override { return 0; }

  std::vector<std::string> events;
  std::vector<CompletedTest> results;
  RunCounts final_counts;
};

std::atomic<int> flaky_calls{0};
std::atomic<int> failing_calls{0};
std::atomic<int> passing_calls{0};

// Fails its first two tries, each with output of its own, then passes.
void fails_twice_then_passes() {
  const int call = ++flaky_calls;
  print("try " + std::to_string(call) + "\n");
  if (call <= 2) fail("link trained late");
}
void always_fails() {
  ++failing_calls;
  fail("thermal event");
}
void counts_and_passes() { ++passing_calls; }

TestDescAndFn make_test(std::string_view name, TestFn fn) {
  TestDesc desc;
  desc.name = name;
  return {desc, fn};
}

RunConfig with_retries(std::size_t retries) {
  RunConfig config;
  config.execute.retries = retries;
  return config;
}

std::expected<bool, std::string> run(const std::vector<TestDescAndFn>& tests, const RunConfig& config,
                                     ResultKeeper& keeper) {
  return run_tests(tests, {tests.size(), 0, std::nullopt}, config, keeper);
}

TEST(Retries, AFlakyTestPassesOnALaterTryAndKeepsTheFailedOnes) {
  flaky_calls = 0;
  ResultKeeper keeper;
  ASSERT_TRUE(run({make_test("flaky", fails_twice_then_passes)}, with_retries(3), keeper).has_value());
  ASSERT_EQ(keeper.results.size(), 1U);
  const CompletedTest& flaky = keeper.results[0];
  EXPECT_EQ(flaky_calls.load(), 3) << "no try after the one that passed";
  EXPECT_EQ(flaky.result().kind, TestResult::Kind::Ok);
  EXPECT_EQ(flaky.last_try().stdout_bytes, "try 3\n");
  EXPECT_EQ(flaky.tries_allowed, 4U);
  ASSERT_EQ(flaky.attempts.size(), 3U);
  EXPECT_EQ(flaky.attempts[1].failure_message, "link trained late");
  EXPECT_EQ(flaky_note(flaky), "flaky: passed on try 3 of 4");
  EXPECT_EQ(keeper.final_counts.passed, 1U);
  EXPECT_EQ(keeper.final_counts.failed, 0U);
  EXPECT_EQ(keeper.final_counts.flaky, 1U);
  // The successes block shows every try's output in order, each under its heading.
  const std::string shown = output_of_tries(flaky);
  const auto first = shown.find("---- try 1 of 4 ----\ntry 1\n");
  const auto second = shown.find("---- try 2 of 4 ----\ntry 2\n");
  const auto last = shown.find("---- try 3 of 4 ----\ntry 3\n");
  EXPECT_TRUE(first == 0 && second != std::string::npos && last != std::string::npos && first < second &&
              second < last)
      << shown;
}

TEST(Retries, FailFastWaitsForTheLastTryOfAFailingTest) {
  flaky_calls = 0;
  failing_calls = 0;
  passing_calls = 0;
  ResultKeeper keeper;
  RunConfig config = with_retries(2);
  config.fail_fast = true;
  auto passed = run({make_test("flaky", fails_twice_then_passes), make_test("broken", always_fails),
                     make_test("never_started", counts_and_passes)},
                    config, keeper);
  ASSERT_TRUE(passed.has_value());
  EXPECT_FALSE(*passed);
  EXPECT_EQ(keeper.events,
            (std::vector<std::string>{"started flaky", "result flaky", "started broken", "result broken"}));
  EXPECT_EQ(failing_calls.load(), 3);
  EXPECT_EQ(passing_calls.load(), 0);
}

TEST(Retries, ATestOverItsTimeLimitIsNotTriedAgain) {
  passing_calls = 0;
  ResultKeeper keeper;
  RunConfig config = with_retries(2);
  TestTimeOptions strict;
  strict.error_on_excess = true;
  strict.unit_threshold = strict.integration_threshold = strict.doctest_threshold = {std::chrono::milliseconds(0),
                                                                                      std::chrono::milliseconds(0)};
  config.execute.time_options = strict;
  TestDescAndFn slow = make_test("slow", counts_and_passes);
  slow.desc.test_type = TestType::IntegrationTest;
  auto passed = run({slow}, config, keeper);
  ASSERT_TRUE(passed.has_value());
  EXPECT_FALSE(*passed);
  EXPECT_EQ(passing_calls.load(), 1);
  EXPECT_EQ(keeper.results.at(0).result().kind, TestResult::Kind::TimeLimitExceeded);
  EXPECT_EQ(keeper.results.at(0).attempts.size(), 1U);
}

// 0 when, after a stop was requested, a failing test gets no second try.
int tries_after_a_stop() {
  failing_calls = 0;
  request_stop();
  // The loop starts no test once stopped, so the test is run on this thread.
  const CompletedTest completed =
      execute_with_retries(0, make_test("broken", always_fails), ExecuteSettings{true, std::nullopt, 5});
  return failing_calls.load() == 1 && completed.attempts.size() == 1 ? 0 : 1;
}

TEST(RetriesDeathTest, AnInterruptedRunTriesNothingAgain) {
  // The stop request lasts as long as the process, so it is made in a child.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(tries_after_a_stop()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace harness
