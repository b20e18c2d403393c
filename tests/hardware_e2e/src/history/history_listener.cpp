// The history's listener: hands the run's start, each failed try that is
// run again, every try of every ended test and the cards' verdicts to the
// HistoryRun it was made by.
#include "history/history_run.hpp"

namespace hardware_e2e {

namespace {

class HistoryListener : public harness::Formatter {
 public:
  explicit HistoryListener(HistoryRun& run) : run_(run) {}

  void run_started(const harness::RunStart& start) override { run_.run_started(start.run_id, start.started_at); }
  void test_started(const harness::TestEvent&) override {}
  void still_running(const harness::TestEvent&) override {}
  void test_result(const harness::ResultEvent& event) override {
    const auto& attempts = event.test.attempts;
    for (std::size_t i = 0; i < attempts.size(); ++i) run_.attempt_ended(event.test.desc.name, i + 1, attempts[i]);
  }
  // A failed try is written before the test runs it again, so that a run
  // killed during a later try keeps it; the test's result does not write it twice.
  void try_failed(const harness::ResultEvent& event) override {
    const auto& attempts = event.test.attempts;
    run_.attempt_ended(event.test.desc.name, attempts.size(), attempts.back());
  }
  void run_finished(const harness::RunEnd& end) override {
    if (!end.card_verdicts.empty()) run_.cards_judged(end.card_verdicts);
  }
  // The history never ends a run: its failures are named once and dropped.
  int error() const override { return 0; }

 private:
  HistoryRun& run_;
};

}  // namespace

std::unique_ptr<harness::Formatter> HistoryRun::listener() { return std::make_unique<HistoryListener>(*this); }

}  // namespace hardware_e2e
