// The history's listener: hands the run's start and every try of every
// ended test to the HistoryRun it was made by.
#include "history/history_run.hpp"

namespace hardware_e2e {

namespace {

class HistoryListener : public harness::Formatter {
 public:
  explicit HistoryListener(HistoryRun& run) : run_(run) {}

  void run_started(const harness::RunStart& start) override { run_.run_started(start.run_id, start.started_at); }
  void test_started(harness::TestId, const harness::TestDesc&) override {}
  void still_running(harness::TestId, const harness::TestDesc&) override {}
  void test_result(const harness::CompletedTest& test, const harness::ConsoleTestState&) override {
    for (const auto& view : harness::attempts_of(test)) {
      harness::Attempt attempt{.result = *view.result,
                               .exec_time = *view.exec_time,
                               .stdout_bytes = {},
                               .failure_message = std::string(view.failure_message),
                               .measurements = *view.measurements,
                               .runner_output = {},
                               .started = view.started,
                               .ended = view.ended};
      run_.attempt_ended(test.desc.name, view.number, attempt);
    }
  }
  void run_finished(const harness::ConsoleTestState&) override {}
  // The history never ends a run: its failures are named once and dropped.
  int error() const override { return 0; }

 private:
  HistoryRun& run_;
};

}  // namespace

std::unique_ptr<harness::Formatter> HistoryRun::listener() { return std::make_unique<HistoryListener>(*this); }

}  // namespace hardware_e2e
