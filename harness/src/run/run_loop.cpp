#include "run/run_loop.hpp"

#include <cerrno>
#include <deque>
#include <fmt/format.h>
#include <map>
#include <memory>

#include "run/card_health.hpp"
#include "run/channel.hpp"
#include "run/interrupt.hpp"
#include "reports/io_error.hpp"
#include "run/outcome.hpp"
#include "run/worker.hpp"

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;

struct WorkerMessage {
  // A test's result; or, with `retrying`, its tries so far when a failed
  // one is about to be run again.
  CompletedTest test;
  bool retrying = false;
};
using ResultChannel = Channel<WorkerMessage>;

class SteadyRunClock : public RunClock {
 public:
  Clock::time_point now() const override { return Clock::now(); }
  Clock::time_point wake_at(Clock::time_point deadline) const override { return deadline; }
};

class ResultPromise {
  // Sends a failed result for a test whose thread ended (pthread_exit,
  // cancellation) before its result was sent, so the run loop is not left
  // waiting for a result that never comes.
 public:
  ResultPromise(std::shared_ptr<ResultChannel> channel, TestId id, const TestDesc& desc)
      : channel_(std::move(channel)), id_(id), desc_(desc) {}
  ~ResultPromise() {
    if (!sent_) {
      const auto ended_early = TestResult::failed_with_note("the test's thread ended before the test finished");
      channel_->send({single_try(id_, desc_, ended_early)});
    }
  }
  ResultPromise(const ResultPromise&) = delete;
  ResultPromise& operator=(const ResultPromise&) = delete;

  void send(CompletedTest completed) {
    sent_ = true;
    channel_->send({std::move(completed)});
  }

 private:
  std::shared_ptr<ResultChannel> channel_;
  TestId id_;
  TestDesc desc_;
  bool sent_ = false;
};

class Run {
  // The loop's bookkeeping of one run; the channel outlives it in any worker
  // left running by a fail-fast stop.
 public:
  Run(const std::vector<TestDescAndFn>& tests, const RunConfig& config, Formatter& formatter)
      : tests_(tests),
        config_(config),
        formatter_(formatter),
        card_health_(config.card_health ? config.card_health->recent_passes : RecentPasses{}) {}
  // Workers still running when the run ends early (fail-fast, a report that
  // cannot be written) finish on their own and send into a channel nobody
  // reads; the loop does not wait for them.
  ~Run() {
    for (const auto& [id, thread] : running_) pthread_detach(thread);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  std::expected<bool, std::string> run(const RunStart& start);

 private:
  std::optional<std::string> report_error() const;
  std::optional<std::string> start_test(TestId id);
  std::expected<WorkerMessage, std::string> next_result();
  bool is_concurrent() const { return config_.workers > 1; }
  EventStamp stamp() const { return {run_id_, WallClock::now()}; }
  void judge_cards(CompletedTest& completed);
  std::vector<CardVerdict> card_verdicts() const;

  const std::vector<TestDescAndFn>& tests_;
  const RunConfig& config_;
  Formatter& formatter_;
  std::string_view run_id_;
  RunCounts counts_;
  std::shared_ptr<ResultChannel> channel_ = std::make_shared<ResultChannel>();
  std::map<TestId, pthread_t> running_;
  std::deque<std::pair<TestId, Clock::time_point>> deadlines_;  // in start order
  CardHealth card_health_;
  std::map<unsigned, std::string> not_quarantined_;  // why, for each suspect card the watch could not quarantine
};

void Run::judge_cards(CompletedTest& completed) {
  const auto tries = card_tries(completed);
  for (const unsigned card : card_health_.record(completed.desc.name, tries)) {
    auto quarantined = config_.card_health->quarantine(card, *card_health_.evidence(card));
    if (quarantined) {
      not_quarantined_.erase(card);
    } else {
      not_quarantined_[card] = quarantined.error();
    }
  }
  completed.card_fault = card_health_.blamed_card(tries);
}

std::vector<CardVerdict> Run::card_verdicts() const {
  auto verdicts = card_health_.verdicts(config_.card_health->cards);
  for (CardVerdict& verdict : verdicts) {
    if (!verdict.suspect()) continue;
    const auto why = not_quarantined_.find(verdict.card);
    verdict.quarantined = why == not_quarantined_.end();
    if (!verdict.quarantined) verdict.not_quarantined = why->second;
  }
  return verdicts;
}

std::optional<std::string> Run::report_error() const {
  if (const int error = formatter_.error(); error != 0) return io_error_message(error);
  return std::nullopt;
}

std::optional<std::string> Run::start_test(TestId id) {
  const TestDescAndFn& test = tests_[id];
  if (is_concurrent()) deadlines_.emplace_back(id, config_.clock->now() + config_.warn_after);
  formatter_.test_started({stamp(), id, test.desc});
  if (auto error = report_error()) return error;

  if (test.desc.ignore || !config_.run_tests) {
    channel_->send({ignored_test(id, test.desc)});
    return std::nullopt;
  }
  auto job = [channel = channel_, test, settings = config_.execute, id] {
    ResultPromise promise(channel, id, test.desc);
    const auto retrying = [&](std::span<const Attempt> tries) {
      channel->send({CompletedTest{id, test.desc, {tries.begin(), tries.end()}}, true});
    };
    promise.send(execute_with_retries(id, test, settings, retrying));
  };
  auto thread = spawn_worker(job, test.desc.name, config_.stack_size);
  if (thread) {
    running_.emplace(id, *thread);
  } else if (thread.error() == EAGAIN) {
    job();
  } else {
    return fmt::format("failed to spawn thread to run test: {}\n", render_os_error(thread.error()));
  }
  return std::nullopt;
}

std::expected<WorkerMessage, std::string> Run::next_result() {
  if (!is_concurrent()) return channel_->receive();
  while (true) {
    if (deadlines_.empty()) return channel_->receive();
    const auto wake_at = config_.clock->wake_at(deadlines_.front().second);
    if (auto completed = channel_->receive_until(wake_at)) return std::move(*completed);
    const auto now = config_.clock->now();
    while (!deadlines_.empty() && deadlines_.front().second <= now) {
      const TestId id = deadlines_.front().first;
      deadlines_.pop_front();
      if (running_.contains(id)) formatter_.still_running({stamp(), id, tests_[id].desc});
      if (auto error = report_error()) return std::unexpected(*error);
    }
  }
}

std::expected<bool, std::string> Run::run(const RunStart& start) {
  const auto started_at = Clock::now();
  run_id_ = start.run_id;
  counts_.total = start.test_count;
  counts_.filtered_out = start.filtered_out;
  formatter_.run_started(start);
  if (auto error = report_error()) return std::unexpected(*error);

  TestId next = 0;
  std::size_t in_flight = 0;
  while ((next < tests_.size() && !stop_requested()) || in_flight > 0) {
    while (in_flight < config_.workers && next < tests_.size() && !stop_requested()) {
      if (auto error = start_test(next++)) return std::unexpected(*error);
      ++in_flight;
    }
    auto received = next_result();
    if (!received) return std::unexpected(received.error());
    if (received->retrying) {
      formatter_.try_failed({stamp(), received->test, counts_});
      if (auto error = report_error()) return std::unexpected(*error);
      continue;
    }
    CompletedTest completed = std::move(received->test);
    --in_flight;

    if (auto worker = running_.find(completed.id); worker != running_.end()) {
      const bool ended_normally = join_worker(worker->second);
      running_.erase(worker);
      if (!ended_normally && outcome_of(completed.result()).passed()) {
        completed.last_try().result = TestResult::failed_with_note("panicked after reporting success");
      }
    }
    std::erase_if(deadlines_, [&](const auto& deadline) { return deadline.first == completed.id; });

    // A test that was running when a signal stopped the run did not finish
    // as it would have, whatever it returned.
    if (completed.result().kind == TestResult::Kind::Ok && interrupt_signal() != 0) {
      completed.last_try().result = TestResult::failed_with_note("interrupted");
    }
    const bool failed = outcome_of(completed.result()).failed();
    if (config_.card_health) judge_cards(completed);
    counts_.count(completed);
    formatter_.test_result({stamp(), completed, counts_});
    if (auto error = report_error()) return std::unexpected(*error);
    if (failed && config_.fail_fast) break;
  }

  counts_.exec_time =
      TestSuiteExecTime{std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started_at)};
  const auto verdicts = config_.card_health ? card_verdicts() : std::vector<CardVerdict>{};
  formatter_.run_finished({stamp(), counts_, interrupt_signal(), verdicts});
  if (auto error = report_error()) return std::unexpected(*error);
  return counts_.succeeded();
}

}  // namespace

const RunClock& steady_run_clock() {
  static const SteadyRunClock clock;
  return clock;
}

std::expected<bool, std::string> run_tests(const std::vector<TestDescAndFn>& tests, const RunStart& start,
                                           const RunConfig& config, Formatter& formatter) {
  return Run(tests, config, formatter).run(start);
}

}  // namespace harness
