// `--format json` as a script reading the demo executable's output meets it:
// every line parsed with a JSON parser.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "report_support.hpp"

namespace harness_formats {
namespace {

using harness_e2e::ChildRun;
using harness_e2e::lines_of;
using harness_e2e::run_demo;
using nlohmann::json;

// Every line of standard output as a JSON object; a line that does not parse
// fails the test with the line.
std::vector<json> events_of(const ChildRun& run) {
  std::vector<json> events;
  EXPECT_TRUE(run.stdout_text.empty() || run.stdout_text.back() == '\n');
  for (const std::string& line : lines_of(run.stdout_text)) {
    json event;
    try {
      event = json::parse(line);
    } catch (const json::parse_error& error) {
      ADD_FAILURE() << "not JSON: " << line << "\n" << error.what();
      continue;
    }
    EXPECT_TRUE(event.is_object()) << line;
    events.push_back(event);
  }
  return events;
}

// The result events by test name.
std::map<std::string, json> results_of(const std::vector<json>& events) {
  std::map<std::string, json> results;
  for (const json& event : events) {
    const std::string kind = event.value("event", "");
    if (event.value("type", "") == "test" && kind != "started" && kind != "still_running") {
      EXPECT_TRUE(results.emplace(event.at("name").get<std::string>(), event).second) << event;
    }
  }
  return results;
}

TEST(JsonReport, SerialRunIsOneEventPerLineWithEscapedOutputAndTheLogFileBeside) {
  const std::string log_path = temporary_path("json-report-log-");
  const ChildRun run = run_demo({"-Z", "unstable-options", "--format", "json", "--logfile", log_path},
                                with_gate({{"ZLU_TEST_THREADS", "1"}}));
  EXPECT_EQ(run.exit_status, 101);
  const std::vector<json> events = events_of(run);
  ASSERT_GE(events.size(), 2U);

  EXPECT_EQ(events.front(), json::parse(R"({"type":"suite","event":"started","test_count":7,"filtered_out":0})"));
  const json& finished = events.back();
  EXPECT_EQ(finished.at("type"), "suite");
  EXPECT_EQ(finished.at("event"), "failed");
  EXPECT_EQ(finished.at("passed"), 4);
  EXPECT_EQ(finished.at("failed"), 1);
  EXPECT_EQ(finished.at("ignored"), 2);
  EXPECT_EQ(finished.at("measured"), 0);
  EXPECT_EQ(finished.at("filtered_out"), 0);
  EXPECT_TRUE(finished.at("exec_time").is_number());

  // In a serial run each test's started event comes right before its result.
  ASSERT_EQ(events.size(), 2U + 2 * 7);
  for (std::size_t i = 1; i + 1 < events.size(); i += 2) {
    EXPECT_EQ(events[i].at("event"), "started") << events[i];
    EXPECT_EQ(events[i].at("name"), events[i + 1].at("name"));
  }

  const std::map<std::string, json> results = results_of(events);
  const json& failed = results.at("fails_with_awkward_output");
  EXPECT_EQ(failed.at("event"), "failed");
  EXPECT_EQ(failed.at("message"), "left \"a\" < right & 'b'\x01");
  const std::string output = failed.at("stdout");
  EXPECT_NE(output.find("quote \" less < amp & apos ' bell \x07 escape \x1b[31m bad \xEF\xBF\xBD end\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("panicked at harness/tests/formats/formats_demo.cpp:"), std::string::npos) << output;
  EXPECT_FALSE(failed.contains("exec_time")) << "times are measured only when asked for";

  EXPECT_EQ(results.at("ignored_plain"), json::parse(R"({"type":"test","event":"ignored","name":"ignored_plain"})"));
  EXPECT_EQ(results.at("ignored_with_<message>").at("message"), "needs a \"card\" & <power>");
  EXPECT_EQ(results.at("prints_and_passes"),
            json::parse(R"({"type":"test","event":"ok","name":"prints_and_passes"})"));
  EXPECT_EQ(results.at("child_writes_to_stdout").at("event"), "ok");

  // The child's output must not break the stream; it goes to standard error.
  EXPECT_NE(run.stderr_text.find("output of the child process\n"), std::string::npos) << run.stderr_text;
  EXPECT_NE(read_file(log_path).find("failed fails_with_awkward_output\n"), std::string::npos);
  std::filesystem::remove(log_path);
}

TEST(JsonReport, ConcurrentRunWithTimesAndShownOutputCarriesThemOnEveryResult) {
  // A short warning interval and a long sleep give the slow test its
  // still-running event.
  const ChildRun run = run_demo({"-Z", "unstable-options", "--format=json", "--report-time", "--show-output",
                                 "--test-threads", "3", "passes", "fails"},
                                with_gate({{"ZLU_TEST_WARN_AFTER_MS", "20"}, {"ZLU_DEMO_SLEEP_MS", "300"}}));
  EXPECT_EQ(run.exit_status, 101);
  const std::vector<json> events = events_of(run);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().at("test_count"), 4);
  EXPECT_EQ(events.front().at("filtered_out"), 3);
  const std::map<std::string, json> results = results_of(events);
  ASSERT_EQ(results.size(), 4U);
  for (const auto& [name, result] : results) EXPECT_TRUE(result.at("exec_time").is_number_float()) << result;
  EXPECT_EQ(results.at("prints_and_passes").at("stdout"), "output of a passing test\n");
  EXPECT_FALSE(results.at("passes_quietly").contains("stdout")) << "an empty output is left out";
  EXPECT_TRUE(results.at("fails_with_awkward_output").contains("stdout"));

  const auto warning = std::find(events.begin(), events.end(),
                                 json::parse(R"({"type":"test","event":"still_running","name":"sleeps_then_passes"})"));
  ASSERT_NE(warning, events.end()) << run.stdout_text;
  const auto result = std::find(events.begin(), events.end(), results.at("sleeps_then_passes"));
  EXPECT_LT(warning, result);
}

TEST(JsonReport, EnsureTimeReportsTheSlowTestAsFailedByTimeLimit) {
  const ChildRun run = run_demo({"-Z", "unstable-options", "--format", "json", "--ensure-time", "sleeps", "quietly"},
                                with_gate({{"ZLU_TEST_TIME_INTEGRATION", "10,20"}, {"ZLU_DEMO_SLEEP_MS", "60"}}));
  EXPECT_EQ(run.exit_status, 101);
  const std::vector<json> events = events_of(run);
  const std::map<std::string, json> results = results_of(events);
  ASSERT_EQ(results.size(), 2U);
  const json& slow = results.at("sleeps_then_passes");
  EXPECT_EQ(slow.at("event"), "failed");
  EXPECT_EQ(slow.at("reason"), "time limit exceeded");
  EXPECT_GE(slow.at("exec_time").get<double>(), 0.060);
  EXPECT_EQ(results.at("passes_quietly").at("event"), "ok");
  EXPECT_EQ(events.back().at("failed"), 1);
  EXPECT_EQ(events.back().at("passed"), 1);
}

TEST(JsonReport, ListingIsDiscoveryEventsAndStillWritesTheLogFile) {
  const std::string log_path = temporary_path("json-list-log-");
  const ChildRun run =
      run_demo({"-Z", "unstable-options", "--list", "--format", "json", "--logfile", log_path, "ignored"}, with_gate());
  EXPECT_EQ(run.exit_status, 0);
  const std::vector<json> events = events_of(run);
  ASSERT_EQ(events.size(), 4U);
  EXPECT_EQ(events[0], json::parse(R"({"type":"suite","event":"discovery"})"));
  EXPECT_EQ(events[1].at("name"), "ignored_plain");
  EXPECT_EQ(events[1].at("ignore"), true);
  EXPECT_FALSE(events[1].contains("ignore_message"));
  EXPECT_EQ(events[2].at("name"), "ignored_with_<message>");
  EXPECT_EQ(events[2].at("ignore_message"), "needs a \"card\" & <power>");
  EXPECT_EQ(events[2].at("source_path"), "harness/tests/formats/formats_demo.cpp");
  EXPECT_EQ(events[3], json::parse(R"({"type":"suite","event":"completed","tests":2,"benchmarks":0,"total":2,)"
                                   R"("ignored":2})"));
  EXPECT_EQ(read_file(log_path), "test ignored_plain\ntest ignored_with_<message>\n");
  std::filesystem::remove(log_path);
}

}  // namespace
}  // namespace harness_formats
