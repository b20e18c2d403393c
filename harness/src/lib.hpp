// A test runner for executables that carry a fixed table of tests: the
// executable's entry hands its table to `test_main_static`, which parses the
// command line, runs the selected tests on worker threads and reports them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <source_location>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace harness {

// Whether a test passes only by failing (none of ours do, but the runner honours it).
enum class ShouldPanicKind { No, Yes, YesWithMessage };
struct ShouldPanic {
  ShouldPanicKind kind = ShouldPanicKind::No;
  std::string_view expected;  // with YesWithMessage: text the failure message must contain
};

// Selects the time thresholds a test is judged by.
enum class TestType { UnitTest, IntegrationTest, DocTest, Unknown };

// A test's descriptor, fixed at build time.
struct TestDesc {
  std::string_view name;
  bool ignore = false;
  std::optional<std::string_view> ignore_message;
  std::string_view source_path;
  unsigned start_line = 0;
  unsigned start_col = 0;
  unsigned end_line = 0;
  unsigned end_col = 0;
  ShouldPanic should_panic;
  bool compile_fail = false;
  bool no_run = false;
  TestType test_type = TestType::Unknown;
};

// A test body: returning passes, raising a failure (see `fail`) fails.
using TestFn = void (*)();

struct TestDescAndFn {
  TestDesc desc;
  TestFn testfn;
};

// Runs or lists the tests of `tests` as the command line `args` asks (args[0]
// is the program name) and returns the process exit status: 0 when no
// selected test failed, 101 otherwise.
int test_main_static(std::span<const std::string> args, std::span<const TestDescAndFn> tests);

// Fails the current test with `message`. The failure travels to the worker's
// boundary, which reports it with the source location of this call.
[[noreturn]] void fail(std::string message, std::source_location location = std::source_location::current());

// Writes a test body's output: into the test's capture buffer while capture is
// on, else straight to standard output (print) or standard error (eprint).
void print(std::string_view text);
void eprint(std::string_view text);

// Attaches the property `name` with `value` to the result of the test that
// runs on the calling thread; the machine-readable reports carry it with the
// result. Recording a name again replaces its value. Outside a test body it
// does nothing.
void record_property(std::string name, std::string value);

// Which card an attempt ran on and how long it waited for it.
struct CardUse {
  unsigned card = 0;
  std::chrono::nanoseconds wait{0};
  // Whether the reports show it: a run without a card pool keeps the
  // reports it always had, while the attempt still knows its card.
  bool reported = true;
};

// What the card counted for an attempt: cycles per step kind (index:
// exchange, compute, synchronisation, idle), the span in cycles, the busiest
// tile, and what counted them ("card model", or the card's kind).
struct CycleSummary {
  std::array<std::uint64_t, 4> cycles_by_kind{};
  std::uint64_t span = 0;
  std::uint16_t busiest_tile = 0;
  std::uint64_t busiest_tile_cycles = 0;
  std::string card;
};

// A typed value an attempt produced beside its verdict.
using Measurement = std::variant<CardUse, CycleSummary>;

// Attaches `measurement` to the attempt that runs on the calling thread; a
// second one of the same kind replaces the first and keeps its place.
// Outside a test body it does nothing. Reports show a reported CardUse as
// the `card` and `card_wait_ms` properties, ahead of the recorded ones; a
// CycleSummary is kept for the listeners that read attempts.
void attach(Measurement measurement);

// Adds `summary` to the CycleSummary of the attempt that runs on the calling
// thread, or attaches it when there is none yet: for a test that starts
// several runners one after another, whose cycles and spans add up. The
// busiest tile is the busiest of any one runner. Outside a test body it does
// nothing.
void add_cycle_summary(const CycleSummary& summary);

// Whether attempts are to carry cycle summaries: a cycle baseline, a bless
// file or ZLU_TEST_CYCLES=on is set (read with the other settings before any
// test starts). Runners are then asked for their profiles.
bool cycle_summaries_wanted();

// A runner's captured standard output and error, kept with the attempt when
// runner output is captured (ZLU_TEST_RUNNER_OUTPUT=capture). `cut` says the
// runner wrote more than was kept.
struct RunnerOutput {
  std::string program;
  std::string text;
  bool cut = false;
};

// Keeps `output` with the attempt that runs on the calling thread, after any
// kept before; outside a test body it does nothing.
void attach_runner_output(RunnerOutput output);

// Card health: which cards a run's failures follow. A suite with a card
// pool that quarantines suspect cards installs a watch before
// test_main_static; without one the run reports no card verdict.
struct CardEvidence {
  // A test that failed on a card and then passed on another: in this run,
  // or (`recent`) failed on the card alone in this run and passed on another
  // in the build's recent runs on this host.
  std::string test;
  unsigned passed_on = 0;
  bool recent = false;
};

struct CardVerdict {
  unsigned card = 0;
  std::vector<CardEvidence> evidence;  // empty for a healthy card
  bool quarantined = false;
  std::string not_quarantined;  // why a suspect card could not be quarantined

  bool suspect() const { return !evidence.empty(); }
};

// For each test, the cards it passed on in the build's recent runs on this
// host, in number order.
using RecentPasses = std::map<std::string, std::vector<unsigned>, std::less<>>;

struct CardHealthWatch {
  // The pool's cards, each given a verdict even when no test ran on it.
  std::vector<unsigned> cards;
  // Quarantines `card` on the evidence so far, called on the run loop's
  // thread each time its evidence grows; the error says why it could not.
  std::function<std::expected<void, std::string>(unsigned card, std::span<const CardEvidence> evidence)> quarantine;
  // Filled before the run by a suite that keeps a history.
  RecentPasses recent_passes;
};

// Installs `watch` for the next run: a test that failed on a suspect card
// and passed on another then passes marked with the card, counted apart
// from flaky tests, and the reports carry each card's verdict.
void watch_card_health(CardHealthWatch watch);

// The attempt running on the calling thread: its test's name, its try number
// (from 1), and the cards on which this test's earlier tries of this run
// failed (from their CardUse), in try order without repeats.
struct AttemptContext {
  std::string_view test;
  unsigned attempt = 1;
  std::vector<unsigned> failed_cards;
};

// The attempt running on the calling thread; nullopt outside a test body.
std::optional<AttemptContext> current_attempt();

// Whether runners' output is to be captured with their attempt
// (ZLU_TEST_RUNNER_OUTPUT=capture, read with the other settings before any
// test starts).
bool runner_output_captured();

// Which try of its test the body on the calling thread is: 1 for the first
// run, 2 for the first run again after a failure (ZLU_TEST_RETRIES), and so
// on; 0 outside a test body. The same as current_attempt()->attempt.
unsigned current_try();

}  // namespace harness
