// The properties a test body records, as the JSON and JUnit reports carry them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "reports/json.hpp"
#include "reports/junit.hpp"
#include "run/execute.hpp"
#include "report_support.hpp"
#include "xml_document.hpp"

namespace harness_formats {
namespace {

using namespace harness;

CompletedTest with_properties(TestResult result, TestProperties properties) {
  TestDesc desc;
  desc.name = "waits_for_a_card";
  CompletedTest test = single_try(0, desc, std::move(result));
  test.properties = std::move(properties);
  return test;
}

const TestProperties recorded = {{"waited_for_card_ms", "12"}, {"card", "quote \" less < amp &"}};

TEST(PropertiesReport, JsonResultEventCarriesThemAsAnObjectOnlyWhenRecorded) {
  FileConsole console;
  JsonFormatter json(console.out(), {});
  const RunCounts counts;
  json.test_result({{}, with_properties(TestResult::failed(), recorded), counts});
  json.test_result({{}, with_properties(TestResult::ok(), {}), counts});
  const std::string text = console.text();
  const auto end = text.find('\n');
  ASSERT_NE(end, std::string::npos) << text;
  const auto event = nlohmann::json::parse(text.substr(0, end));
  EXPECT_EQ(event["event"], "failed");
  EXPECT_EQ(event["properties"], nlohmann::json({{"waited_for_card_ms", "12"}, {"card", "quote \" less < amp &"}}));
  EXPECT_FALSE(nlohmann::json::parse(text.substr(end + 1)).contains("properties"));
}

TEST(PropertiesReport, JunitTestsuiteHoldsThemNamedAfterTheirTestAndTheTestcaseNone) {
  FileConsole console;
  JunitFormatter junit(console.out(), {});
  const RunCounts counts;
  junit.run_started({2, 0, std::nullopt});
  junit.test_result({{}, with_properties(TestResult::failed(), recorded), counts});
  CompletedTest plain = with_properties(TestResult::ok(), {});
  plain.desc.name = "plain";
  junit.test_result({{}, plain, counts});
  junit.run_finished({{}, counts});
  const XmlDocument xml(console.text());
  const ParserRun valid = xml.validate(JUNIT_SCHEMA_PATH);
  ASSERT_EQ(valid.exit_status, 0) << valid.output << console.text();
  const std::string properties = "/testsuites/testsuite/*[1][self::properties]/property";
  EXPECT_EQ(xml.xpath("count(" + properties + ")"), "2");
  EXPECT_EQ(xml.xpath("string(" + properties + "[1]/@name)"), "waits_for_a_card.waited_for_card_ms");
  EXPECT_EQ(xml.xpath("string(" + properties + "[1]/@value)"), "12");
  EXPECT_EQ(xml.xpath("string(" + properties + "[2]/@name)"), "waits_for_a_card.card");
  EXPECT_EQ(xml.xpath("string(" + properties + "[2]/@value)"), "quote \" less < amp &");
  EXPECT_EQ(xml.xpath("count(//testcase[@name='waits_for_a_card']/*)"), "1");
  EXPECT_EQ(xml.xpath("count(//testcase[@name='waits_for_a_card']/failure)"), "1");
  EXPECT_EQ(xml.xpath("count(//testcase[@name='plain']/*)"), "0");
}

}  // namespace
}  // namespace harness_formats
