// The `--format junit` report: one JUnit XML document after the run.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reports/formatter.hpp"

namespace harness {

// Where escaped text goes: between tags, or inside a double-quoted attribute.
enum class XmlPlace { Text, Attribute };

// `bytes` as XML character data for `place`: decoded as UTF-8 with
// ill-formed sequences replaced by U+FFFD (as in the console report); `&`,
// `<` and `>` as entities, and in attributes also `"`, `'`, tab and line
// feed, which a parser would otherwise normalise away; carriage return as a
// character reference everywhere for the same reason; every other character
// XML 1.0 cannot carry at all (the remaining C0 controls, U+FFFE, U+FFFF)
// replaced by U+FFFD.
std::string xml_escape(std::string_view bytes, XmlPlace place);

// The document, written in one piece when the run finishes:
//   <testsuites><testsuite name=EXE tests= failures= errors="0" skipped= time= timestamp=>
//     [<properties><property name="TEST.NAME" value=/>...</properties>]
//     <testcase classname=EXE name=TEST time=> [<failure type= message=>OUTPUT</failure>
//       | <skipped [message=]/> | <system-out>OUTPUT</system-out>] </testcase> ...
// The properties test bodies recorded belong to the testsuite, each named
// after its test: a testcase holds only what identifies the test and its
// result, since consumers take a testcase's properties for part of its
// identity, and the common JUnit schema has none there.
// A test that failed a try and was run again (ZLU_TEST_RETRIES) is still one
// testcase: when it passed in the end, it holds a
// <flakyFailure type= message=><system-out>OUTPUT</system-out></flakyFailure>
// per failed try; when it failed every try, the failure is its last try's
// and a rerunFailure of the same form follows for each earlier try.
// Runners' captured output (ZLU_TEST_RUNNER_OUTPUT=capture) is a
// <system-err> beside its try's output: after the failure, after the
// system-out of a pass shown with `--show-output`, and inside a try's
// flakyFailure or rerunFailure after its system-out; its text is the one the
// console shows (render_runner_output).
// A test's time is its measured execution time, summed over its tries, when
// times are measured, else the time from its start to its result as the run
// loop saw them. The
// timestamp is the run's start in UTC, with its zone ("Z"). A pass shows its output in
// `system-out` under `--show-output` only, as the console report does.
class JunitFormatter : public ReportFormatter {
 public:
  using ReportFormatter::ReportFormatter;

  void run_started(const RunStart& start) override;
  void test_started(const TestEvent&) override {}
  void still_running(const TestEvent&) override {}
  void test_result(const ResultEvent& event) override;
  void run_finished(const RunEnd& event) override;

 private:
  // The time to report for `test`: its tries' measured times when times are
  // measured, else from its first try's start to its last try's end.
  static std::chrono::nanoseconds test_time(const CompletedTest& test);

  WallClock::time_point run_start_{};
  std::string testcases_;
  std::string properties_;  // the testsuite's property lines, in the order results arrived
  std::size_t reported_ = 0;
};

}  // namespace harness
