// ZLU_TEST_EVENTS: the run's JSON event lines in a file of their own, stamped
// with the run id and each event's time, whatever the report's format.
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>

#include "child_process.hpp"
#include "report_support.hpp"

namespace harness_formats {
namespace {

using harness_e2e::ChildRun;
using harness_e2e::lines_of;
using harness_e2e::run_demo;
using harness_e2e::without_thread_ids;
using harness_e2e::without_times;
using nlohmann::json;

class EventsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "events-file-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  // A serial run of the demo with `format`, and ZLU_TEST_EVENTS=`events` when given.
  static ChildRun run(const std::string& format, const std::optional<std::string>& events) {
    std::map<std::string, std::string> env = with_gate({{"ZLU_TEST_THREADS", "1"}});
    if (events) env.emplace("ZLU_TEST_EVENTS", *events);
    return run_demo({"-Z", "unstable-options", "--format", format}, env);
  }

  std::filesystem::path scratch_;
};

// A report as it compares across runs: without the console's times, thread
// ids, the JUnit document's times and timestamp, or the JSON lines' times.
std::string comparable(const std::string& report) {
  static const std::regex junit_times(R"((time|timestamp)="[^"]*")");
  static const std::regex json_times(R"("exec_time":[0-9.]+)");
  const std::string text = std::regex_replace(without_thread_ids(without_times(report)), junit_times, "$1=\"T\"");
  return std::regex_replace(text, json_times, "\"exec_time\":T");
}

// What identifies an event, whatever its times.
std::string kind_of(const json& event) {
  return event.at("type").get<std::string>() + " " + event.at("event").get<std::string>() + " " +
         event.value("name", "");
}

TEST_F(EventsFile, HoldsTheJsonLinesOfTheRunStampedWhateverTheFormat) {
  const std::string path = (scratch_ / "events.json").string();
  // The events file's own fields: the executable on the run's start, a try's
  // note, start and end on its lines, and the stamp on every line, last.
  const std::regex own_fields(
      R"((,"executable":"harness_formats_demo")?(,"note":true)?)"
      R"((,"started":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{9}Z","ended":"[-0-9T:.]{29}Z")?)"
      R"(,"run_id":"[0-9a-f]{32}","timestamp":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z"\}$)");
  std::vector<std::string> json_kinds;
  for (const std::string format : {"json", "pretty", "terse", "junit"}) {
    const ChildRun with_events = run(format, path);
    const ChildRun without = run(format, std::nullopt);
    EXPECT_EQ(with_events.exit_status, 101) << format;
    // The report itself does not change.
    EXPECT_EQ(comparable(with_events.stdout_text), comparable(without.stdout_text)) << format;

    const std::vector<std::string> lines = lines_of(read_file(path));
    ASSERT_EQ(lines.size(), 2U + 2 * 7) << format;
    std::string run_id;
    std::string previous_time;
    std::vector<std::string> kinds;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::smatch stamp;
      ASSERT_TRUE(std::regex_search(lines[i], stamp, own_fields)) << lines[i];
      const json event = json::parse(lines[i]);
      if (run_id.empty()) run_id = event.at("run_id");
      EXPECT_EQ(event.at("run_id"), run_id) << "one run id for the whole run";
      EXPECT_LE(previous_time, event.at("timestamp").get<std::string>()) << lines[i];
      previous_time = event.at("timestamp");
      kinds.push_back(kind_of(event));
      // What the merge of a Slurm job rebuilds JUnit from: the program's name, each try's start and end.
      if (i == 0) {
        EXPECT_EQ(event.at("executable"), "harness_formats_demo");
      }
      const std::string happened = event.at("event");
      if (event.at("type") == "test" && happened != "started" && happened != "still_running") {
        EXPECT_LE(event.at("started").get<std::string>(), event.at("ended").get<std::string>()) << lines[i];
      }
      // Without its own fields, a line is the line the JSON report writes.
      if (format == "json") {
        EXPECT_EQ(lines[i].substr(0, stamp.position()) + "}", lines_of(with_events.stdout_text).at(i));
      }
    }
    if (format == "json") json_kinds = kinds;
    EXPECT_EQ(kinds, json_kinds) << format;
  }
}

TEST_F(EventsFile, APathThatCannotBeWrittenIsRefusedBeforeAnyTestRuns) {
  const std::filesystem::path fifo = scratch_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string name;
    std::filesystem::path path;
  };
  for (const Case& c : std::vector<Case>{{"in a missing folder", scratch_ / "missing" / "events.json"},
                                         {"a folder", scratch_},
                                         {"a FIFO without a reader", fifo}}) {
    const ChildRun refused = run("pretty", c.path.string());
    EXPECT_EQ(refused.exit_status, 101) << c.name;
    EXPECT_EQ(refused.stdout_text, "") << c.name << ": no test ran";
    EXPECT_TRUE(refused.stderr_text.starts_with("error: ZLU_TEST_EVENTS is `" + c.path.string() + "`: "))
        << c.name << ": " << refused.stderr_text;
    EXPECT_EQ(lines_of(refused.stderr_text).size(), 1U) << c.name << ": " << refused.stderr_text;
  }
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "missing"));
}

}  // namespace
}  // namespace harness_formats
