#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "run/interrupt.hpp"
#include "run/run_loop.hpp"

namespace harness {
namespace {

using namespace std::chrono_literals;

// Records the events of a run as short lines.
class RecordingFormatter : public Formatter {
 public:
  void run_started(const RunStart& start) override { events.push_back(fmt("start ", start.test_count)); }
  void test_started(const TestEvent& event) override { events.push_back("started " + std::string(event.desc.name)); }
  void still_running(const TestEvent& event) override {
    events.push_back("running " + std::string(event.desc.name));
    ++warnings;
  }
  void test_result(const ResultEvent& event) override {
    events.push_back("result " + std::string(event.test.desc.name) + " " +
                     std::to_string(static_cast<int>(event.test.result().kind)));
    ++results;
  }
  void run_finished(const RunEnd& event) override {
    events.push_back(fmt("finished ", event.counts.passed) + fmt("/", event.counts.failed));
  }
  int error() const override { return 0; }
  static std::string fmt(const char* word, std::size_t n) { return word + std::to_string(n); }

  std::vector<std::string> events;
  // What test bodies on other threads may wait for.
  std::atomic<std::size_t> warnings{0};
  std::atomic<std::size_t> results{0};
};

// A clock that stands still until a test moves it; the loop looks at it
// every millisecond.
class ManualClock : public RunClock {
 public:
  Clock::time_point now() const override { return Clock::time_point(Clock::duration(elapsed_.load())); }
  Clock::time_point wake_at(Clock::time_point) const override { return Clock::now() + 1ms; }
  void advance(Clock::duration by) { elapsed_ += by.count(); }

 private:
  std::atomic<Clock::rep> elapsed_{0};
};

// Waits until `done` holds; gives up after ten seconds so that a loop that
// never gets there fails its test instead of hanging it.
template <typename Condition>
void wait_until(Condition done) {
  const auto give_up = std::chrono::steady_clock::now() + 10s;
  while (!done() && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(1ms);
}

std::string result_event(std::string_view name, TestResult::Kind kind) {
  return "result " + std::string(name) + " " + std::to_string(static_cast<int>(kind));
}

TestDescAndFn make_test(std::string_view name, TestFn fn) {
  TestDesc desc;
  desc.name = name;
  return {desc, fn};
}

std::expected<bool, std::string> run(const std::vector<TestDescAndFn>& tests, const RunConfig& config,
                                     RecordingFormatter& formatter) {
  return run_tests(tests, {tests.size(), 0, std::nullopt}, config, formatter);
}

std::mutex seen_mutex;
std::string seen_thread_name;
std::size_t seen_stack_size = 0;

void records_its_thread() {
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  pthread_attr_t attr;
  pthread_getattr_np(pthread_self(), &attr);
  std::size_t stack = 0;
  pthread_attr_getstacksize(&attr, &stack);
  pthread_attr_destroy(&attr);
  std::lock_guard lock(seen_mutex);
  seen_thread_name = name;
  seen_stack_size = stack;
}

TEST(RunLoop, WorkerIsNamedAfterTheTestWithTheRequestedStack) {
  RecordingFormatter formatter;
  RunConfig config;
  config.stack_size = 8 << 20;
  auto passed = run({make_test("a_test_name_longer_than_fifteen_bytes", records_its_thread)}, config, formatter);
  ASSERT_TRUE(passed.has_value());
  EXPECT_TRUE(*passed);
  std::lock_guard lock(seen_mutex);
  EXPECT_EQ(seen_thread_name, "a_test_name_lon");
  EXPECT_GE(seen_stack_size, std::size_t{8 << 20});
}

void passes() {}
void fails() { fail("no"); }

RecordingFormatter* watched = nullptr;
ManualClock* manual_clock = nullptr;

// Outlasts the warning interval: once the other test's result is in, moves
// the clock past the interval and returns when the loop has warned.
void outlasts_the_warning() {
  wait_until([] { return watched->results.load() >= 1; });
  manual_clock->advance(50ms);
  wait_until([] { return watched->warnings.load() >= 1; });
}

TEST(RunLoop, SerialRunReportsEachTestBeforeStartingTheNext) {
  RecordingFormatter formatter;
  auto passed = run({make_test("a", passes), make_test("b", fails), make_test("c", passes)}, {}, formatter);
  ASSERT_TRUE(passed.has_value());
  EXPECT_FALSE(*passed);
  EXPECT_EQ(formatter.events,
            (std::vector<std::string>{"start 3", "started a", result_event("a", TestResult::Kind::Ok), "started b",
                                      result_event("b", TestResult::Kind::Failed), "started c",
                                      result_event("c", TestResult::Kind::Ok), "finished 2/1"}));
}

TEST(RunLoop, ConcurrentRunWarnsOncePerSlowTestAndReportsInCompletionOrder) {
  RecordingFormatter formatter;
  ManualClock clock;
  watched = &formatter;
  manual_clock = &clock;
  RunConfig config;
  config.workers = 2;
  config.warn_after = 50ms;
  config.clock = &clock;
  auto passed = run({make_test("slow", outlasts_the_warning), make_test("quick", passes)}, config, formatter);
  ASSERT_TRUE(passed.has_value());
  EXPECT_TRUE(*passed);
  EXPECT_EQ(formatter.events,
            (std::vector<std::string>{"start 2", "started slow", "started quick",
                                      result_event("quick", TestResult::Kind::Ok), "running slow",
                                      result_event("slow", TestResult::Kind::Ok), "finished 2/0"}));
}

TEST(RunLoop, NotRunningTestsReportsThemIgnoredWithoutCallingThem) {
  RecordingFormatter formatter;
  RunConfig config;
  config.run_tests = false;
  auto passed = run({make_test("would_fail", fails)}, config, formatter);
  ASSERT_TRUE(passed.has_value());
  EXPECT_TRUE(*passed);
  EXPECT_EQ(formatter.events[2], result_event("would_fail", TestResult::Kind::Ignored));
}

std::atomic<bool> release_blocked{false};
void blocks_until_released() {
  while (!release_blocked.load()) std::this_thread::sleep_for(1ms);
}

TEST(RunLoop, FailFastStopsWithoutWaitingForTestsInFlight) {
  RecordingFormatter formatter;
  RunConfig config;
  config.workers = 2;
  config.fail_fast = true;
  auto passed = run({make_test("blocked", blocks_until_released), make_test("fails", fails),
                     make_test("never_started", passes)},
                    config, formatter);
  release_blocked.store(true);
  ASSERT_TRUE(passed.has_value());
  EXPECT_FALSE(*passed);
  EXPECT_EQ(formatter.events,
            (std::vector<std::string>{"start 3", "started blocked", "started fails",
                                      result_event("fails", TestResult::Kind::Failed), "finished 0/1"}));
}

TEST(RunLoop, ReportThatCannotBeWrittenEndsTheRunWithTheError) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  std::signal(SIGPIPE, SIG_IGN);
  ConsoleOutput out(fds[1], Palette{});
  auto formatter = make_formatter(OutputFormat::Pretty, out, {});
  ASSERT_TRUE(formatter.has_value());
  const std::vector<TestDescAndFn> tests = {make_test("a", passes), make_test("b", passes)};
  auto passed = run_tests(tests, {2, 0, std::nullopt}, {}, **formatter);
  ::close(fds[1]);
  ASSERT_FALSE(passed.has_value());
  EXPECT_EQ(passed.error(), "error: io error when listing tests: Broken pipe (os error 32)\n");
}

}  // namespace
}  // namespace harness

namespace harness {
namespace {

std::atomic<bool> beside_started{false};
void starts_then_sleeps() {
  beside_started.store(true);
  std::this_thread::sleep_for(300ms);
}
void raises_sigterm_once_beside_runs_then_passes() {
  while (!beside_started.load()) std::this_thread::sleep_for(1ms);
  ::raise(SIGTERM);
}

// 0 when a SIGTERM raised by the first of three tests on two workers fails
// it and the test beside it as interrupted, keeps the third from starting
// and still finishes the run.
int interrupted_run_status() {
  install_interrupt_handlers();
  RecordingFormatter formatter;
  RunConfig config;
  config.workers = 2;
  auto passed = run({make_test("signalled", raises_sigterm_once_beside_runs_then_passes),
                     make_test("beside", starts_then_sleeps),
                     make_test("never_started", passes)},
                    config, formatter);
  const std::vector<std::string> expected = {"start 3",
                                             "started signalled",
                                             "started beside",
                                             result_event("signalled", TestResult::Kind::FailedWithNote),
                                             result_event("beside", TestResult::Kind::FailedWithNote),
                                             "finished 0/2"};
  for (const auto& event : formatter.events) std::fprintf(stderr, "%s\n", event.c_str());
  const bool as_expected = passed.has_value() && !*passed && formatter.events == expected;
  return as_expected && interrupt_signal() == SIGTERM ? 0 : 1;
}

TEST(RunLoopDeathTest, ASignalFailsTheTestInFlightStartsNoMoreAndStillFinishesTheRun) {
  // The stop request lasts as long as the process, so the run happens in a child.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(interrupted_run_status()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace harness
