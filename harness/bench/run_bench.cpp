// The harness's own cost per test: how long it takes from handing a test to
// its worker to having its result, for a body that returns at once, and a
// whole run of 1000 such tests with one and with two workers.
#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include "lib.hpp"
#include "run/run_loop.hpp"

namespace {

using Clock = std::chrono::steady_clock;

void returns_at_once() {}

// Notes when each test starts and when its result arrives; writes nothing.
class TimingFormatter : public harness::Formatter {
 public:
  void run_started(const harness::RunStart&) override {}
  void test_started(const harness::TestEvent&) override { started_ = Clock::now(); }
  void still_running(const harness::TestEvent&) override {}
  void test_result(const harness::ResultEvent&) override { last_ = Clock::now() - started_; }
  void run_finished(const harness::RunEnd&) override {}
  int error() const override { return 0; }
  Clock::duration last() const { return last_; }

 private:
  Clock::time_point started_;
  Clock::duration last_{};
};

// Standard output pointed at /dev/null while alive.
class QuietStdout {
 public:
  QuietStdout() : saved_(::dup(1)) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);
  }
  ~QuietStdout() {
    ::dup2(saved_, 1);
    ::close(saved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_;
};

harness::TestDescAndFn instant_test(std::string_view name) {
  harness::TestDesc desc;
  desc.name = name;
  return {desc, returns_at_once};
}

void BM_TestStartToResult(benchmark::State& state) {
  const std::vector<harness::TestDescAndFn> tests = {instant_test("returns_at_once")};
  harness::RunConfig config;
  TimingFormatter timing;
  for (auto _ : state) {
    auto passed = harness::run_tests(tests, {1, 0, std::nullopt}, config, timing);
    benchmark::DoNotOptimize(passed);
    state.SetIterationTime(std::chrono::duration<double>(timing.last()).count());
  }
}
BENCHMARK(BM_TestStartToResult)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_WholeRunOf1000Tests(benchmark::State& state) {
  constexpr std::size_t count = 1000;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i) names.push_back(fmt::format("instant_test_{:04}", i));
  std::vector<harness::TestDescAndFn> tests;
  for (const std::string& name : names) tests.push_back(instant_test(name));
  const std::vector<std::string> args = {"harness_bench", "--test-threads", std::to_string(state.range(0))};

  {
    QuietStdout quiet;
    for (auto _ : state) {
      const int status = harness::test_main_static(args, tests);
      if (status != 0) state.SkipWithError("the run failed");
    }
  }
  state.counters["per_test"] =
      benchmark::Counter(static_cast<double>(count * state.iterations()), benchmark::Counter::kIsRate |
                                                                             benchmark::Counter::kInvert);
}
BENCHMARK(BM_WholeRunOf1000Tests)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
