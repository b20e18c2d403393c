// Runners' captured output as each report shows it: with its own test and
// try, in a run whose tests finish in any order on four workers.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "reports/json.hpp"
#include "reports/junit.hpp"
#include "reports/pretty.hpp"
#include "report_support.hpp"
#include "run/run_loop.hpp"
#include "xml_document.hpp"

namespace harness_formats {
namespace {

using namespace harness;

// The line the runner of `test` writes on its try `attempt`.
std::string runner_line(std::string_view test, unsigned attempt) {
  return fmt::format("{} try {}: tile 3 offset 0x40 held 7\n", test, attempt);
}

// Attaches its runner's line; fails when its name says so. "cut_fails" also
// has its runner's output cut, "flaky" fails its first try only.
void runs_a_runner() {
  const AttemptContext attempt = current_attempt().value();
  const std::string_view name = attempt.test;
  attach_runner_output({"runner-" + std::string(name), runner_line(name, attempt.attempt), name == "cut_fails"});
  if (name.ends_with("fails") || (name == "flaky" && attempt.attempt == 1)) fail("runner exited with status 1");
}

constexpr std::array<std::string_view, 8> names{"a_fails", "b_passes", "c_fails", "d_passes",
                                                "cut_fails", "flaky", "e_fails", "f_passes"};

struct Reports {
  std::string pretty, json, junit;
};

Reports run_reports(bool show_output) {
  std::vector<TestDescAndFn> tests;
  for (std::string_view name : names) {
    TestDesc desc;
    desc.name = name;
    tests.push_back({desc, runs_a_runner});
  }
  FileConsole pretty, json, junit;
  const FormatterSettings settings{true, show_output, std::nullopt, "demo"};
  FanOut listeners;
  listeners.add(std::make_unique<PrettyFormatter>(pretty.out(), settings));
  listeners.add(std::make_unique<JsonFormatter>(json.out(), settings));
  listeners.add(std::make_unique<JunitFormatter>(junit.out(), settings));
  RunConfig config;
  config.workers = 4;
  config.execute.retries = 1;
  EXPECT_TRUE(run_tests(tests, {tests.size(), 0, std::nullopt}, config, listeners).has_value());
  return {pretty.text(), json.text(), junit.text()};
}

std::size_t occurrences(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(RunnerOutputReport, ConsoleShowsARunnersLineUnderItsOwnTestOnly) {
  const std::string text = run_reports(false).pretty;
  for (std::string_view name : {"a_fails", "c_fails", "e_fails"}) {
    const std::string section = fmt::format(
        "---- {0} stdout ----\n---- try 1 of 2 ----\n\nthread '{0}' panicked", name);
    EXPECT_EQ(occurrences(text, runner_line(name, 1)), 1U) << name << text;
    EXPECT_EQ(occurrences(text, runner_line(name, 2)), 1U) << name << text;
    // Inside its own section: after its heading, before the next one.
    const auto heading = text.find(fmt::format("---- {} stdout ----", name));
    const auto next = text.find(" stdout ----", heading + 20);
    const auto line = text.find(runner_line(name, 2));
    EXPECT_TRUE(heading != std::string::npos && heading < line && line < next) << name << text;
    EXPECT_NE(text.find(fmt::format("---- runner runner-{} ----\n{}", name, runner_line(name, 2))), std::string::npos);
  }
  EXPECT_NE(text.find("---- runner runner-cut_fails ----\n" + runner_line("cut_fails", 2) +
                      "note: output cut: the runner wrote more than was kept\n"),
            std::string::npos)
      << text;
  for (std::string_view name : {"b_passes", "d_passes", "f_passes", "flaky"})
    EXPECT_EQ(text.find(std::string(name) + " try"), std::string::npos) << "a pass shows no output: " << name;
}

TEST(RunnerOutputReport, ShowOutputPutsAPassRunnersLineInTheSuccessesBlock) {
  const std::string text = run_reports(true).pretty;
  const auto successes = text.find("\nsuccesses:\n");
  const auto failures = text.find("\nfailures:\n");
  ASSERT_TRUE(successes != std::string::npos && failures != std::string::npos) << text;
  for (std::string_view name : {"b_passes", "d_passes", "f_passes"}) {
    const auto line = text.find(runner_line(name, 1));
    EXPECT_TRUE(successes < line && line < failures) << name << text;
    EXPECT_EQ(occurrences(text, runner_line(name, 1)), 1U) << name;
  }
  // A flaky pass shows each try's runner output under that try.
  const auto first_try = text.find("---- flaky stdout ----\n---- try 1 of 2 ----\n");
  const auto flaky_first = text.find("---- runner runner-flaky ----\n" + runner_line("flaky", 1));
  const auto last_try = text.find("---- try 2 of 2 ----\n---- runner runner-flaky ----\n" + runner_line("flaky", 2));
  EXPECT_TRUE(successes < first_try && first_try < flaky_first && flaky_first < last_try && last_try < failures)
      << text;
}

TEST(RunnerOutputReport, JsonCarriesEachTrysRunnerOutputInItsOwnEvent) {
  const std::string text = run_reports(false).json;
  std::size_t carried = 0;
  std::size_t at = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; at = end + 1, end = text.find('\n', at)) {
    const auto event = nlohmann::json::parse(text.substr(at, end - at));
    if (!event.contains("runner_output")) continue;
    ++carried;
    const std::string name = event["name"];
    const unsigned attempt = event["event"] == "try_failed" ? 1 : 2;
    EXPECT_TRUE(name.ends_with("fails") || event["event"] == "try_failed") << event;
    EXPECT_EQ(event["runner_output"],
              nlohmann::json::array({{{"program", "runner-" + name},
                                      {"text", runner_line(name, attempt)},
                                      {"cut", name == "cut_fails"}}}))
        << event;
  }
  EXPECT_EQ(carried, 9U) << "both tries of the four failing tests and the flaky test's failed one; the passes "
                             "without --show-output none";
}

TEST(RunnerOutputReport, JunitPutsItInSystemErrBesideItsTrysOutput) {
  for (const bool show_output : {false, true}) {
    const std::string text = run_reports(show_output).junit;
    const XmlDocument xml(text);
    const ParserRun valid = xml.validate(JUNIT_SCHEMA_PATH);
    ASSERT_EQ(valid.exit_status, 0) << valid.output << text;
    for (std::string_view name : {"a_fails", "cut_fails"}) {
      const std::string testcase = fmt::format("//testcase[@name='{}']", name);
      EXPECT_EQ(xml.xpath("count(" + testcase + "/system-err)"), "1");
      EXPECT_EQ(xml.xpath("local-name(" + testcase + "/failure/following-sibling::*[1])"), "system-err");
      std::string expected = fmt::format("---- runner runner-{} ----\n{}", name, runner_line(name, 2));
      if (name == "cut_fails") expected += "note: output cut: the runner wrote more than was kept\n";
      EXPECT_EQ(xml.xpath("string(" + testcase + "/system-err)"), expected);
      EXPECT_EQ(xml.xpath("string(" + testcase + "/rerunFailure/system-err)"),
                fmt::format("---- runner runner-{} ----\n{}", name, runner_line(name, 1)) +
                    (name == "cut_fails" ? "note: output cut: the runner wrote more than was kept\n" : ""));
    }
    EXPECT_EQ(xml.xpath("count(//testcase[@name='b_passes']/system-err)"), show_output ? "1" : "0");
    EXPECT_EQ(xml.xpath("string(//testcase[@name='flaky']/flakyFailure/system-err)"),
              "---- runner runner-flaky ----\n" + runner_line("flaky", 1));
  }
}

}  // namespace
}  // namespace harness_formats
