// ZLU_TEST_RETRIES end to end: a runner that fails its first start and then
// passes is reported flaky in every format; one that always fails is one
// failure with every try's output.
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

#include "suite_process.hpp"
#include "xml_document.hpp"

namespace hardware_e2e_tests {
namespace {

using harness_formats::XmlDocument;

const std::string MULTICAST = "direct_multicast_works";
const std::string MULTICAST_FAILURE =
    "hardware capability \"single-source multicast graph\" failed with exit status: 1";
const std::vector<std::string> GATE = {"-Z", "unstable-options"};

class Retries : public SuiteTest {
 protected:
  // The runner fails its first start only; `counter` names the file that
  // counts the starts, one per run.
  ChildEnvironment fails_first_start(const std::string& counter, const std::string& retries = "2") {
    return {{"ZLU_STANDIN_EXIT", "1"},
            {"ZLU_STANDIN_FAIL_FIRST", "1"},
            {"ZLU_STANDIN_STARTS", (dir() / counter).string()},
            {"ZLU_TEST_RETRIES", retries},
            {"ZLU_TEST_BOOTSTRAP", "1"}};
  }
  static ChildEnvironment always_fails(const std::string& retries = "2") {
    return {{"ZLU_STANDIN_EXIT", "1"}, {"ZLU_TEST_RETRIES", retries}, {"ZLU_TEST_BOOTSTRAP", "1"}};
  }
  SuiteRun run_multicast(std::vector<std::string> options, ChildEnvironment environment) {
    for (const std::string& arg : {std::string("--exact"), MULTICAST, std::string("--test-threads"), std::string("1")})
      options.push_back(arg);
    return run_suite(options, std::move(environment));
  }
};

std::string read_text(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Where each of `pieces` is found in `text`, each searched after the one before.
std::vector<std::size_t> positions_in_order(const std::string& text, const std::vector<std::string>& pieces) {
  std::vector<std::size_t> found;
  std::size_t from = 0;
  for (const std::string& piece : pieces) {
    from = text.find(piece, from);
    found.push_back(from);
    if (from == std::string::npos) break;
    from += piece.size();
  }
  return found;
}

bool all_found(const std::vector<std::size_t>& positions, std::size_t expected) {
  return positions.size() == expected && positions.back() != std::string::npos;
}

std::vector<nlohmann::json> test_events(const std::string& out) {
  std::vector<nlohmann::json> events;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json event = nlohmann::json::parse(line);
    if (event["type"] == "test" && event["event"] != "started") events.push_back(std::move(event));
  }
  return events;
}

TEST_F(Retries, PrettyTerseAndTheLogReportAFlakyTestAsPassedAndNameIt) {
  const auto log = dir() / "log";
  const auto pretty = run_multicast({"--logfile", log.string()}, fails_first_start("pretty-starts"));
  EXPECT_EQ(pretty.exit_code(), 0) << pretty.out << pretty.err;
  EXPECT_EQ(records().size(), 2U) << "one failed start, one that passed";
  EXPECT_NE(pretty.out.find("\ntest " + MULTICAST + " ... ok (flaky: passed on try 2 of 3)\n"), std::string::npos)
      << pretty.out;
  EXPECT_NE(pretty.out.find("\ntest result: ok. 1 passed; 0 failed; 0 ignored; 0 measured; 22 filtered out;"),
            std::string::npos)
      << pretty.out;
  EXPECT_TRUE(pretty.out.ends_with("s\n\nflaky test: " + MULTICAST + "\n\n")) << pretty.out;
  EXPECT_EQ(pretty.out.find("panicked"), std::string::npos) << "a pass shows no output without --show-output";
  EXPECT_EQ(read_text(log), "ok " + MULTICAST + " (flaky: passed on try 2 of 3)\n");

  const auto terse = run_multicast({"-q"}, fails_first_start("terse-starts"));
  EXPECT_EQ(terse.exit_code(), 0) << terse.out << terse.err;
  EXPECT_TRUE(terse.out.starts_with("\nrunning 1 test\n.\ntest result: ok. 1 passed; 0 failed;")) << terse.out;
  EXPECT_TRUE(terse.out.ends_with("s\n\nflaky test: " + MULTICAST + "\n\n")) << terse.out;
}

TEST_F(Retries, ATestThatFailsEveryTryFailsOnceWithEachTrysOutputInOrder) {
  const auto run = run_multicast({}, always_fails());
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_EQ(records().size(), 3U);
  EXPECT_NE(run.out.find("\ntest " + MULTICAST + " ... FAILED\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\ntest result: FAILED. 0 passed; 1 failed;"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("flaky"), std::string::npos) << run.out;
  std::vector<std::string> sections = {"---- " + MULTICAST + " stdout ----\n"};
  for (const std::string number : {"1", "2", "3"}) {
    sections.push_back("---- try " + number + " of 3 ----\n\nthread '" + MULTICAST + "'");
    sections.push_back(":\n" + MULTICAST_FAILURE + "\n");
  }
  EXPECT_TRUE(all_found(positions_in_order(run.out, sections), sections.size())) << run.out;

  const auto once = run_multicast({}, always_fails("0"));
  EXPECT_EQ(once.exit_code(), 101);
  EXPECT_EQ(records().size(), 4U) << "no retry with ZLU_TEST_RETRIES=0";
  EXPECT_EQ(once.out.find("---- try"), std::string::npos) << once.out;
}

TEST_F(Retries, JsonGivesEachFailedTryAnEventBeforeTheResult) {
  const auto flaky = run_multicast({GATE[0], GATE[1], "--format", "json"}, fails_first_start("json-starts"));
  EXPECT_EQ(flaky.exit_code(), 0) << flaky.out << flaky.err;
  const auto events = test_events(flaky.out);
  ASSERT_EQ(events.size(), 2U) << flaky.out;
  EXPECT_EQ(events[0]["event"], "try_failed");
  EXPECT_EQ(events[0]["name"], MULTICAST);
  EXPECT_EQ(events[0]["try"], 1);
  EXPECT_EQ(events[0]["tries_allowed"], 3);
  EXPECT_EQ(events[0]["message"], MULTICAST_FAILURE);
  EXPECT_NE(events[0]["stdout"].get<std::string>().find("panicked at"), std::string::npos);
  EXPECT_EQ(events[1]["event"], "ok");
  EXPECT_EQ(events[1]["flaky"], true);
  EXPECT_EQ(events[1]["tries"], 2);

  const auto broken = run_multicast({GATE[0], GATE[1], "--format", "json"}, always_fails());
  EXPECT_EQ(broken.exit_code(), 101);
  const auto failed = test_events(broken.out);
  ASSERT_EQ(failed.size(), 3U) << broken.out;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(failed[i]["event"], "try_failed");
    EXPECT_EQ(failed[i]["try"], i + 1);
  }
  EXPECT_EQ(failed[2]["event"], "failed");
  EXPECT_EQ(failed[2]["tries"], 3);
  EXPECT_NE(broken.out.find("{\"type\":\"suite\",\"event\":\"failed\",\"passed\":0,\"failed\":1,"), std::string::npos)
      << broken.out;
}

TEST_F(Retries, ATryAfterAFailureTakesACardItHasNotFailedOnWhenOneIsFree) {
  struct Case {
    std::string cards;
    std::vector<std::string> card_of_each_start;
  };
  const std::vector<Case> cases = {
      {"0-1", {"0", "1"}},
      {"5,3", {"5", "3"}},
      {"2", {"2", "2"}},
  };
  for (const auto& c : cases) {
    ChildEnvironment environment = fails_first_start("starts-" + c.cards, "1");
    environment["ZLU_TEST_CARDS"] = c.cards;
    const std::size_t before = records().size();
    const auto run = run_multicast({}, environment);
    EXPECT_EQ(run.exit_code(), 0) << c.cards << run.err;
    const auto started = records();
    std::vector<std::string> cards;
    for (auto record = started.begin() + static_cast<std::ptrdiff_t>(before); record != started.end(); ++record) {
      cards.push_back(record->env("ZLU_CARD_ID").value_or("none"));
    }
    EXPECT_EQ(cards, c.card_of_each_start) << c.cards;
  }
}

TEST_F(Retries, JunitHasFlakyFailuresForAPassAndRerunFailuresForAFailure) {
  const std::string testcase = "/testsuites/testsuite/testcase[@name='" + MULTICAST + "']";
  ChildEnvironment on_cards = fails_first_start("junit-starts");
  on_cards["ZLU_TEST_CARDS"] = "0";
  const auto flaky = run_multicast({GATE[0], GATE[1], "--format", "junit"}, on_cards);
  EXPECT_EQ(flaky.exit_code(), 0) << flaky.err;
  const XmlDocument passed(flaky.out);
  const auto passed_valid = passed.validate(JUNIT_SCHEMA_PATH);
  ASSERT_EQ(passed_valid.exit_status, 0) << passed_valid.output << flaky.out;
  EXPECT_EQ(passed.xpath("string(/testsuites/testsuite/properties/property[@name='" + MULTICAST + ".card']/@value)"),
            "0");
  EXPECT_EQ(passed.xpath("string(/testsuites/testsuite/@failures)"), "0");
  EXPECT_EQ(passed.xpath("count(" + testcase + "/flakyFailure)"), "1");
  EXPECT_EQ(passed.xpath("count(" + testcase + "/failure | " + testcase + "/rerunFailure)"), "0");
  EXPECT_EQ(passed.xpath("string(" + testcase + "/flakyFailure/@message)"), MULTICAST_FAILURE);
  EXPECT_EQ(passed.xpath("contains(" + testcase + "/flakyFailure/system-out, 'panicked at')"), "true");

  const auto broken = run_multicast({GATE[0], GATE[1], "--format", "junit"}, always_fails());
  EXPECT_EQ(broken.exit_code(), 101);
  const XmlDocument failed(broken.out);
  const auto failed_valid = failed.validate(JUNIT_SCHEMA_PATH);
  ASSERT_EQ(failed_valid.exit_status, 0) << failed_valid.output << broken.out;
  EXPECT_EQ(failed.xpath("string(/testsuites/testsuite/@tests)"), "1");
  EXPECT_EQ(failed.xpath("string(/testsuites/testsuite/@failures)"), "1");
  EXPECT_EQ(failed.xpath("count(" + testcase + "/failure)"), "1");
  EXPECT_EQ(failed.xpath("count(" + testcase + "/rerunFailure)"), "2");
  EXPECT_EQ(failed.xpath("name(" + testcase + "/*[1])"), "failure");
  EXPECT_EQ(failed.xpath("count(" + testcase + "/rerunFailure[@message='" + MULTICAST_FAILURE +
                         "' and contains(system-out, 'panicked at')])"),
            "2");
}

TEST_F(Retries, ATryThatTimesOutIsAFailedTryAndIsRunAgain) {
  ChildEnvironment environment = fails_first_start("timeout-starts", "1");
  environment.erase("ZLU_STANDIN_EXIT");
  environment["ZLU_STANDIN_HANG"] = "sleep";
  environment["ZLU_TEST_RUNNER_TIMEOUT"] = "0.2";
  const auto run = run_multicast({}, environment);
  EXPECT_EQ(run.exit_code(), 0) << run.out << run.err;
  EXPECT_NE(run.out.find("ok (flaky: passed on try 2 of 2)\n"), std::string::npos) << run.out;
  EXPECT_EQ(records().size(), 2U);
}

TEST_F(Retries, MalformedCountsStopTheRunBeforeAnyRunner) {
  for (const std::string value : {"", "x", "-1", "1001", "3 "}) {
    const auto run = run_suite({"--test-threads", "1"}, {{"ZLU_TEST_RETRIES", value}});
    EXPECT_EQ(run.exit_code(), 101) << value;
    EXPECT_EQ(run.err, "error: ZLU_TEST_RETRIES is `" + value +
                           "`, should be a non-negative integer no larger than 1000.\n");
    EXPECT_EQ(run.out, "");
  }
  EXPECT_TRUE(records().empty());
}

}  // namespace
}  // namespace hardware_e2e_tests
