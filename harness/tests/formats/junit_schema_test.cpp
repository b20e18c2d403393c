// The JUnit document against the schema a CI system's importer validates it
// with: a consumer that validates drops a whole document that fails.
#include <gtest/gtest.h>

#include "reports/junit.hpp"
#include "run/execute.hpp"
#include "report_support.hpp"
#include "xml_document.hpp"

namespace harness_formats {
namespace {

using namespace harness;

CompletedTest completed(std::string_view name, TestResult result) {
  TestDesc desc;
  desc.name = name;
  return CompletedTest{
      0, desc, {Attempt{std::move(result), TestExecTime{std::chrono::milliseconds(12)}, "output\n", "left \"a\" < right"}}};
}

// `test` after `failed` failed tries, with ZLU_TEST_RETRIES allowing three.
CompletedTest retried(CompletedTest test, std::size_t failed) {
  for (std::size_t i = 0; i < failed; ++i)
    test.attempts.insert(test.attempts.begin(), {TestResult::failed(), TestExecTime{}, "try output\n", "try failed"});
  test.tries_allowed = 3;
  return test;
}

// `test` with what a body holding a card records.
CompletedTest on_card(CompletedTest test, std::string card) {
  test.properties = {{"card", std::move(card)}, {"card_wait_ms", "0.250"}};
  return test;
}

struct Mode {
  std::string name;
  std::vector<CompletedTest> results;
  FormatterSettings settings{false, false, std::nullopt, "demo"};
};

TEST(JunitSchema, EveryModeGivesADocumentTheSchemaAccepts) {
  TestDesc ignored_desc;
  ignored_desc.name = "ignored";
  ignored_desc.ignore_message = "needs \"power\" & a <card>";
  const CompletedTest ignored = ignored_test(0, ignored_desc);
  FormatterSettings shown{};
  shown.executable_name = "demo";
  shown.show_output = true;
  const std::vector<Mode> modes = {
      {"empty run", {}},
      {"plain", {completed("passes", TestResult::ok()), completed("fails", TestResult::failed()),
                 completed("slow", TestResult::time_limit_exceeded()), ignored}},
      {"shown output", {completed("passes", TestResult::ok())}, shown},
      {"cards",
       {on_card(completed("passes", TestResult::ok()), "2"), on_card(completed("fails", TestResult::failed()), "0"),
        ignored}},
      {"retries",
       {retried(completed("flaky", TestResult::ok()), 2), retried(completed("broken", TestResult::failed()), 2)}},
      {"cards and retries",
       {on_card(retried(completed("flaky", TestResult::ok()), 1), "1"),
        on_card(retried(completed("broken", TestResult::failed()), 2), "3")}},
  };
  for (const Mode& mode : modes) {
    FileConsole console;
    JunitFormatter junit(console.out(), mode.settings);
    RunCounts counts;
    junit.run_started({mode.results.size(), 0, std::nullopt});
    for (const CompletedTest& test : mode.results) {
      junit.test_started({{}, test.id, test.desc});
      counts.count(test);
      junit.test_result({{}, test, counts});
    }
    junit.run_finished({{}, counts});
    const XmlDocument xml(console.text());
    const ParserRun valid = xml.validate(JUNIT_SCHEMA_PATH);
    EXPECT_EQ(valid.exit_status, 0) << mode.name << ": " << valid.output << console.text();
    EXPECT_EQ(xml.xpath("count(//testcase)"), std::to_string(mode.results.size())) << mode.name;
    EXPECT_EQ(xml.xpath("count(//testcase/properties)"), "0") << mode.name;
    // Each test's recorded properties, once each, on the testsuite.
    std::size_t recorded = 0;
    for (const CompletedTest& test : mode.results) recorded += test.properties.size();
    EXPECT_EQ(xml.xpath("count(/testsuites/testsuite/properties/property)"), std::to_string(recorded)) << mode.name;
  }
}

}  // namespace
}  // namespace harness_formats
