// What one report page shows: the attempts of a run or of a fleet's tasks,
// gathered from the suite's JSON event lines, its timeline and a job folder.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace report_page {

enum class Outcome : std::uint8_t {
  // How one attempt ended, as the page colours it.
  Passed,
  Failed,      // the test's last try failed
  TryFailed,   // a try that failed and was run again
  Ignored,
  NoReport,    // a fleet task left no events: its tests are unknown
};

struct Attempt {
  // One try of one test on one host, with what the page shows of it. Indices
  // refer to RunData's tables; -1 stands for "not known".
  std::uint32_t test = 0;
  std::uint32_t host = 0;
  std::int32_t card = -1;
  std::int32_t worker = -1;
  std::uint32_t try_number = 1;
  Outcome outcome = Outcome::Passed;
  bool flaky = false;         // the test's last try passed after a failed one
  double start_ms = -1;       // from the start of the host's run
  double duration_ms = -1;
  std::string message{};
  std::string output{};       // the test's captured output and its runners'
};

struct CardMark {
  // A card the suite judged: quarantined or suspect, with its reason.
  std::uint32_t host = 0;
  std::int32_t card = 0;
  std::string state;
  std::string reason;
};

struct CycleDelta {
  // One step kind of one test against the committed baseline.
  std::uint32_t test = 0;
  std::string kind;
  std::uint64_t baseline = 0;
  std::uint64_t measured = 0;
};

struct RunData {
  // Everything the page shows; the writer only renders it.
  std::string title = "hardware_e2e";
  std::vector<std::string> tests;
  std::vector<std::string> hosts;
  std::vector<Attempt> attempts;
  std::vector<CardMark> cards;
  std::vector<CycleDelta> cycles;
  // By test name, its outcomes in recent recorded runs, oldest first: 'p'
  // passed, 'f' failed, 'n' not run or never finished. Empty without a history.
  std::map<std::string, std::string, std::less<>> history;

  std::uint32_t test_index(std::string_view name);
  std::uint32_t host_index(std::string_view name);
};

// Adds the attempts of one run's JSON event lines, which ran on `host`.
// A line that is not an event of the suite is an error naming its number.
std::expected<void, std::string> add_events(RunData& data, std::string_view text, std::string_view host);

// Gives the attempts of `host` their cards, workers and times from the run's
// timeline (the trace the suite writes with ZLU_TEST_TIMELINE).
std::expected<void, std::string> add_timeline(RunData& data, std::string_view text, std::string_view host);

// Adds a fleet job's folder: per task its host (task-K.env), its events
// (task-K.events.json) and its timeline (task-K.timeline.json) when present.
// A task that left no events adds one NoReport attempt naming what it left.
std::expected<void, std::string> add_job_dir(RunData& data, const std::filesystem::path& dir);

// The file's contents, or an error naming it and what went wrong.
std::expected<std::string, std::string> read_text_file(const std::filesystem::path& path);

}  // namespace report_page
