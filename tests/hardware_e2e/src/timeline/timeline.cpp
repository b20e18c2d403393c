#include "timeline/timeline.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <vector>

#include <nlohmann/json.hpp>

#include "harness/src/lib.hpp"

namespace hardware_e2e {

namespace {

using Clock = std::chrono::steady_clock;

// The two processes of the trace: their threads are the tracks.
constexpr int CARDS_TRACKS = 1;
constexpr int WORKER_TRACKS = 2;

struct Span {
  int process;
  unsigned track;
  std::string name;
  std::string category;
  Clock::time_point start;
  Clock::time_point end;
  nlohmann::json args;
  // The test the span belongs to and which try of it (0: none known).
  std::string test;
  unsigned try_number = 0;
  bool instant = false;  // a marker at `start`, not a span
};

class Recorder {
  // Spans of the whole run, from every thread; rendered once at the end.

 public:
  void add(Span span) {
    std::lock_guard lock(mutex_);
    spans_.push_back(std::move(span));
  }

  unsigned take_worker() {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < workers_busy_.size(); ++i) {
      if (!workers_busy_[i]) {
        workers_busy_[i] = true;
        return static_cast<unsigned>(i);
      }
    }
    workers_busy_.push_back(true);
    return static_cast<unsigned>(workers_busy_.size() - 1);
  }

  void free_worker(unsigned worker) {
    std::lock_guard lock(mutex_);
    workers_busy_[worker] = false;
  }

  std::string render() const {
    std::lock_guard lock(mutex_);
    nlohmann::json events = nlohmann::json::array();
    events.push_back(process_name(CARDS_TRACKS, "cards"));
    events.push_back(process_name(WORKER_TRACKS, "workers"));
    std::vector<std::pair<int, unsigned>> named;
    // Only the spans of a test that ran more than once carry their try, so
    // that a run without retries renders as it always did.
    std::vector<std::string_view> retried;
    for (const auto& span : spans_) {
      if (span.try_number > 1) retried.push_back(span.test);
    }
    for (const auto& span : spans_) {
      const std::pair<int, unsigned> track{span.process, span.track};
      if (std::find(named.begin(), named.end(), track) == named.end()) {
        named.push_back(track);
        const std::string label = span.process == CARDS_TRACKS ? "card " : "worker ";
        events.push_back({{"ph", "M"}, {"name", "thread_name"}, {"pid", span.process}, {"tid", span.track},
                          {"args", {{"name", label + std::to_string(span.track)}}}});
      }
      std::string name = span.name;
      nlohmann::json args = span.args;
      if (std::find(retried.begin(), retried.end(), span.test) != retried.end()) {
        name += " (try " + std::to_string(span.try_number) + ")";
        args["try"] = span.try_number;
      }
      if (span.instant) {
        events.push_back({{"ph", "i"}, {"s", "t"}, {"name", name}, {"cat", span.category}, {"pid", span.process},
                          {"tid", span.track}, {"ts", microseconds(span.start - epoch_)}, {"args", args}});
        continue;
      }
      events.push_back({{"ph", "X"}, {"name", name}, {"cat", span.category}, {"pid", span.process},
                        {"tid", span.track}, {"ts", microseconds(span.start - epoch_)},
                        {"dur", microseconds(span.end - span.start)}, {"args", args}});
    }
    return nlohmann::json{{"traceEvents", events}, {"displayTimeUnit", "ms"}}.dump(1) + "\n";
  }

 private:
  static nlohmann::json process_name(int process, std::string_view name) {
    return {{"ph", "M"}, {"name", "process_name"}, {"pid", process}, {"tid", 0}, {"args", {{"name", name}}}};
  }
  static double microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
  }

  mutable std::mutex mutex_;
  const Clock::time_point epoch_ = Clock::now();
  std::vector<Span> spans_;
  std::vector<bool> workers_busy_;
};

// Never destroyed: workers may still note spans while main returns.
std::atomic<Recorder*> recorder{nullptr};

struct CurrentTest {
  std::string_view name;
  unsigned try_number = 0;
  unsigned worker = 0;
  std::chrono::nanoseconds card_wait{0};
};
thread_local std::optional<CurrentTest> current_test;

}  // namespace

void enable_timeline() {
  if (recorder.load() == nullptr) recorder.store(new Recorder());
}

std::optional<std::string> timeline_json() {
  Recorder* active = recorder.load();
  if (active == nullptr) return std::nullopt;
  return active->render();
}

TestScope::TestScope(std::string_view test)
    : test_(test), start_(Clock::now()), worker_(0), exceptions_at_entry_(std::uncaught_exceptions()) {
  if (Recorder* active = recorder.load()) worker_ = active->take_worker();
  current_test = CurrentTest{test, harness::current_try(), worker_};
}

TestScope::~TestScope() {
  const bool failed = std::uncaught_exceptions() > exceptions_at_entry_;
  const auto wait = current_test->card_wait;
  const unsigned try_number = current_test->try_number;
  current_test.reset();
  if (Recorder* active = recorder.load()) {
    // The body's own verdict; the harness may still turn it round (a test
    // that must fail), which none of this suite's tests asks for.
    active->add(Span{WORKER_TRACKS, worker_, std::string(test_), "run", start_, Clock::now(),
                     {{"result", failed ? "failed" : "passed"},
                      {"card_wait_ms", std::chrono::duration<double, std::milli>(wait).count()}},
                     std::string(test_), try_number});
    active->free_worker(worker_);
  }
}

std::optional<std::chrono::nanoseconds> current_test_card_wait() {
  if (!current_test) return std::nullopt;
  return current_test->card_wait;
}

void note_card_wait(Clock::time_point asked, std::chrono::nanoseconds waited) {
  if (!current_test) return;
  current_test->card_wait += waited;
  if (Recorder* active = recorder.load()) {
    const auto granted = asked + std::chrono::duration_cast<Clock::duration>(waited);
    active->add(Span{WORKER_TRACKS, current_test->worker, "wait for a card: " + std::string(current_test->name), "wait",
                     asked, granted, nlohmann::json::object(), std::string(current_test->name),
                     current_test->try_number});
  }
}

void note_runner(unsigned card, Clock::time_point start, Clock::time_point end, const std::string& outcome) {
  Recorder* active = recorder.load();
  if (active == nullptr) return;
  const std::string test = current_test ? std::string(current_test->name) : "";
  const unsigned try_number = current_test ? current_test->try_number : 0;
  active->add(Span{CARDS_TRACKS, card, test, "runner", start, end, {{"result", outcome}}, test, try_number});
}

void note_card_quarantined(unsigned card, const std::vector<std::string>& evidence) {
  Recorder* active = recorder.load();
  if (active == nullptr) return;
  const auto now = Clock::now();
  active->add(Span{CARDS_TRACKS, card, "quarantined", "health", now, now, {{"evidence", evidence}}, "", 0, true});
}

}  // namespace hardware_e2e
