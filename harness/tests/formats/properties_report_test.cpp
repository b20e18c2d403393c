// The properties a test body records, as the JSON and JUnit reports carry them.
#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "json.hpp"
#include "junit.hpp"
#include "xml_document.hpp"

namespace harness_formats {
namespace {

using namespace harness;

// A ConsoleOutput over a temporary file that the test reads back.
class FileConsole {
 public:
  FileConsole() : file_(std::tmpfile()), out_(fileno(file_), Palette{}) {}
  ~FileConsole() { std::fclose(file_); }
  FileConsole(const FileConsole&) = delete;
  FileConsole& operator=(const FileConsole&) = delete;
  ConsoleOutput& out() { return out_; }
  std::string text() {
    std::string text;
    char buffer[4096];
    ::lseek(fileno(file_), 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fileno(file_), buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(got));
    return text;
  }

 private:
  std::FILE* file_;
  ConsoleOutput out_;
};

CompletedTest with_properties(TestResult result, TestProperties properties) {
  TestDesc desc;
  desc.name = "waits_for_a_card";
  CompletedTest test{0, desc, std::move(result), std::nullopt, {}};
  test.properties = std::move(properties);
  return test;
}

const TestProperties recorded = {{"waited_for_card_ms", "12"}, {"card", "quote \" less < amp &"}};

TEST(PropertiesReport, JsonResultEventCarriesThemAsAnObjectOnlyWhenRecorded) {
  FileConsole console;
  JsonFormatter json(console.out(), {});
  ConsoleTestState state;
  json.test_result(with_properties(TestResult::failed(), recorded), state);
  json.test_result(with_properties(TestResult::ok(), {}), state);
  const std::string text = console.text();
  const auto end = text.find('\n');
  ASSERT_NE(end, std::string::npos) << text;
  const auto event = nlohmann::json::parse(text.substr(0, end));
  EXPECT_EQ(event["event"], "failed");
  EXPECT_EQ(event["properties"], nlohmann::json({{"waited_for_card_ms", "12"}, {"card", "quote \" less < amp &"}}));
  EXPECT_FALSE(nlohmann::json::parse(text.substr(end + 1)).contains("properties"));
}

TEST(PropertiesReport, JunitTestcaseHoldsThemBeforeItsFailureAndOnlyWhenRecorded) {
  FileConsole console;
  JunitFormatter junit(console.out(), {});
  ConsoleTestState state;
  junit.run_started({2, 0, std::nullopt});
  junit.test_result(with_properties(TestResult::failed(), recorded), state);
  CompletedTest plain = with_properties(TestResult::ok(), {});
  plain.desc.name = "plain";
  junit.test_result(plain, state);
  junit.run_finished(state);
  const XmlDocument xml(console.text());
  ASSERT_EQ(xml.check_well_formed().exit_status, 0) << console.text();
  const std::string testcase = "/testsuites/testsuite/testcase[@name='waits_for_a_card']";
  EXPECT_EQ(xml.xpath("count(" + testcase + "/*[1][self::properties]/property)"), "2");
  EXPECT_EQ(xml.xpath("string(" + testcase + "/properties/property[2]/@value)"), "quote \" less < amp &");
  EXPECT_EQ(xml.xpath("string(" + testcase + "/properties/property[1]/@name)"), "waited_for_card_ms");
  EXPECT_EQ(xml.xpath("count(" + testcase + "/failure)"), "1");
  EXPECT_EQ(xml.xpath("count(//testcase[@name='plain']/*)"), "0");
}

}  // namespace
}  // namespace harness_formats
