// `--format junit` as a CI system meets it: the document parsed by an XML
// parser and checked for the structure such systems read.
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

#include "child_process.hpp"
#include "report_support.hpp"
#include "xml_document.hpp"

namespace harness_formats {
namespace {

using harness_e2e::ChildRun;
using harness_e2e::run_demo;

const std::string executable = "harness_formats_demo";

// Whether `text` has the shape of `pattern`, where '9' stands for any digit
// and every other character for itself.
bool has_shape(const std::string& text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

// The XPath of the testcase of test `name`.
std::string testcase(const std::string& name) { return "/testsuites/testsuite/testcase[@name='" + name + "']"; }

TEST(JunitReport, RunIsOneWellFormedDocumentWithACaseForEveryTest) {
  const std::string log_path = temporary_path("junit-report-log-");
  const ChildRun run = run_demo({"-Z", "unstable-options", "--format", "junit", "--logfile", log_path},
                                with_gate({{"ZLU_TEST_THREADS", "2"}}));
  EXPECT_EQ(run.exit_status, 101);
  ASSERT_EQ(run.stdout_text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0U) << run.stdout_text;
  const XmlDocument xml(run.stdout_text);
  const harness_formats::ParserRun check = xml.check_well_formed();
  ASSERT_EQ(check.exit_status, 0) << check.output << run.stdout_text;
  const harness_formats::ParserRun valid = xml.validate(JUNIT_SCHEMA_PATH);
  EXPECT_EQ(valid.exit_status, 0) << valid.output << run.stdout_text;

  EXPECT_EQ(xml.xpath("count(/testsuites)"), "1");
  EXPECT_EQ(xml.xpath("count(/testsuites/testsuite)"), "1");
  const std::string suite = "/testsuites/testsuite";
  EXPECT_EQ(xml.xpath("string(" + suite + "/@name)"), executable);
  EXPECT_EQ(xml.xpath("string(" + suite + "/@tests)"), "7");
  EXPECT_EQ(xml.xpath("string(" + suite + "/@failures)"), "1");
  EXPECT_EQ(xml.xpath("string(" + suite + "/@errors)"), "0");
  EXPECT_EQ(xml.xpath("string(" + suite + "/@skipped)"), "2");
  EXPECT_TRUE(has_shape(xml.xpath("string(" + suite + "/@time)"), "9.999"));
  EXPECT_TRUE(has_shape(xml.xpath("string(" + suite + "/@timestamp)"), "9999-99-99T99:99:99Z"));

  EXPECT_EQ(xml.xpath("count(" + suite + "/testcase)"), "7");
  EXPECT_EQ(xml.xpath("count(" + suite + "/testcase[@classname='" + executable + "'])"), "7");
  EXPECT_EQ(xml.xpath("count(" + suite + "/testcase[string(number(@time)) != 'NaN'])"), "7");
  for (const std::string name : {"child_writes_to_stdout", "passes_quietly", "prints_and_passes", "sleeps_then_passes"})
    EXPECT_EQ(xml.xpath("count(" + testcase(name) + "/*)"), "0") << name << " passed and shows nothing";

  const std::string failed = testcase("fails_with_awkward_output");
  EXPECT_EQ(xml.xpath("count(" + failed + "/failure)"), "1");
  EXPECT_EQ(xml.xpath("string(" + failed + "/failure/@message)"), "left \"a\" < right & 'b'\xEF\xBF\xBD");
  const std::string output = xml.xpath("string(" + failed + "/failure)");
  const std::string replaced = "\xEF\xBF\xBD";
  const std::string escaped_line =
      "quote \" less < amp & apos ' bell " + replaced + " escape " + replaced + "[31m bad " + replaced + " end\n";
  EXPECT_NE(output.find(escaped_line), std::string::npos) << output;
  EXPECT_NE(output.find("panicked at harness/tests/formats/formats_demo.cpp:"), std::string::npos) << output;

  EXPECT_EQ(xml.xpath("count(" + testcase("ignored_plain") + "/skipped[not(@message)])"), "1");
  EXPECT_EQ(xml.xpath("string(" + testcase("ignored_with_<message>") + "/skipped/@message)"),
            "needs a \"card\" & <power>");

  EXPECT_NE(run.stderr_text.find("output of the child process\n"), std::string::npos) << run.stderr_text;
  const std::string log = read_file(log_path);
  EXPECT_NE(log.find("ignored: needs a \"card\" & <power> ignored_with_<message>\n"), std::string::npos) << log;
  std::filesystem::remove(log_path);
}

TEST(JunitReport, ShownOutputAndTimeLimitFailuresHaveTheirElements) {
  const ChildRun run =
      run_demo({"-Z", "unstable-options", "--format=junit", "--show-output", "--ensure-time", "passes"},
               with_gate({{"ZLU_TEST_TIME_INTEGRATION", "10,20"}, {"ZLU_DEMO_SLEEP_MS", "60"}}));
  EXPECT_EQ(run.exit_status, 101);
  const XmlDocument xml(run.stdout_text);
  ASSERT_EQ(xml.check_well_formed().exit_status, 0) << run.stdout_text;
  EXPECT_EQ(xml.xpath("string(/testsuites/testsuite/@tests)"), "3");
  EXPECT_EQ(xml.xpath("string(/testsuites/testsuite/@failures)"), "1");
  EXPECT_EQ(xml.xpath("string(" + testcase("prints_and_passes") + "/system-out)"), "output of a passing test\n");
  EXPECT_EQ(xml.xpath("count(" + testcase("passes_quietly") + "/*)"), "0") << "an empty output is left out";

  const std::string slow = testcase("sleeps_then_passes");
  EXPECT_EQ(xml.xpath("string(" + slow + "/failure/@type)"), "time limit exceeded");
  EXPECT_EQ(xml.xpath(slow + "/@time >= 0.060"), "true");
}

TEST(JunitReport, EarlyStopAndEmptyRunStillGiveWellFormedDocuments) {
  const ChildRun stopped = run_demo({"-Z", "unstable-options", "--format", "junit", "--fail-fast"},
                                    with_gate({{"ZLU_TEST_THREADS", "1"}}));
  EXPECT_EQ(stopped.exit_status, 101);
  const XmlDocument stopped_xml(stopped.stdout_text);
  ASSERT_EQ(stopped_xml.check_well_formed().exit_status, 0) << stopped.stdout_text;
  EXPECT_EQ(stopped_xml.xpath("string(/testsuites/testsuite/@tests)"), "2");
  EXPECT_EQ(stopped_xml.xpath("count(//testcase)"), "2");
  EXPECT_EQ(stopped_xml.xpath("count(//testcase[last()]/failure)"), "1");

  const ChildRun empty = run_demo({"-Z", "unstable-options", "--format", "junit", "no_such_test"}, with_gate({}));
  EXPECT_EQ(empty.exit_status, 0);
  const XmlDocument empty_xml(empty.stdout_text);
  ASSERT_EQ(empty_xml.check_well_formed().exit_status, 0) << empty.stdout_text;
  EXPECT_EQ(empty_xml.xpath("string(/testsuites/testsuite/@tests)"), "0");
  EXPECT_EQ(empty_xml.xpath("count(//testcase)"), "0");
}

}  // namespace
}  // namespace harness_formats
