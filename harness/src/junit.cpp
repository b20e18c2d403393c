#include "junit.hpp"

#include <algorithm>
#include <ctime>
#include <fmt/format.h>

#include "zlu-base/src/utf8.hpp"

namespace harness {
namespace {

std::string render_seconds(std::chrono::nanoseconds duration) {
  return fmt::format("{:.3f}", std::chrono::duration<double>(duration).count());
}

std::string render_timestamp(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
  if (gmtime_r(&seconds, &utc) == nullptr) return "1970-01-01T00:00:00";
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                     utc.tm_hour, utc.tm_min, utc.tm_sec);
}

// The failure's type attribute and message of a failed result.
std::pair<std::string_view, std::string_view> failure_of(const CompletedTest& test) {
  switch (test.result.kind) {
    case TestResult::Kind::FailedWithNote: return {"note", test.result.note};
    case TestResult::Kind::TimeLimitExceeded: return {"time limit exceeded", "time limit exceeded"};
    default: return {"failure", test.failure_message};
  }
}

}  // namespace

std::string xml_escape(std::string_view bytes, XmlPlace place) {
  const std::string text = zlu_base::decode_utf8_lossy(bytes);
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool attribute = place == XmlPlace::Attribute;
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += attribute ? "&quot;" : "\""; break;
      case '\'': escaped += attribute ? "&apos;" : "'"; break;
      case '\t': escaped += attribute ? "&#9;" : "\t"; break;
      case '\n': escaped += attribute ? "&#10;" : "\n"; break;
      case '\r': escaped += "&#13;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          escaped += zlu_base::UTF8_REPLACEMENT;
        } else if (text.compare(i, 3, "\xEF\xBF\xBE") == 0 || text.compare(i, 3, "\xEF\xBF\xBF") == 0) {
          escaped += zlu_base::UTF8_REPLACEMENT;
          i += 2;
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

void JunitFormatter::run_started(const RunStart&) { run_start_ = std::chrono::system_clock::now(); }

void JunitFormatter::test_started(const TestDesc& desc) {
  in_flight_.push_back({std::string(desc.name), Clock::now()});
}

std::chrono::nanoseconds JunitFormatter::take_time(const CompletedTest& test) {
  const auto started = std::find_if(in_flight_.begin(), in_flight_.end(),
                                    [&](const Started& entry) { return entry.name == test.desc.name; });
  std::chrono::nanoseconds observed{};
  if (started != in_flight_.end()) {
    observed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started->at);
    in_flight_.erase(started);
  }
  return test.exec_time ? test.exec_time->duration : observed;
}

void JunitFormatter::test_result(const CompletedTest& test, const ConsoleTestState&) {
  ++reported_;
  auto attribute = [](std::string_view text) { return xml_escape(text, XmlPlace::Attribute); };
  std::string element;  // the one child of the testcase, if any
  switch (test.result.kind) {
    case TestResult::Kind::Ok:
    case TestResult::Kind::Bench:
      if (settings_.show_output && !test.stdout_bytes.empty())
        element = fmt::format("<system-out>{}</system-out>", xml_escape(test.stdout_bytes, XmlPlace::Text));
      break;
    case TestResult::Kind::Ignored:
      element = "<skipped/>";
      if (test.desc.ignore_message)
        element = fmt::format("<skipped message=\"{}\"/>", attribute(*test.desc.ignore_message));
      break;
    case TestResult::Kind::Failed:
    case TestResult::Kind::FailedWithNote:
    case TestResult::Kind::TimeLimitExceeded: {
      const auto [type, message] = failure_of(test);
      element = fmt::format("<failure type=\"{}\" message=\"{}\">{}</failure>", type, attribute(message),
                            xml_escape(test.stdout_bytes, XmlPlace::Text));
      break;
    }
  }
  testcases_ += fmt::format("    <testcase classname=\"{}\" name=\"{}\" time=\"{}\"",
                            attribute(settings_.executable_name), attribute(test.desc.name),
                            render_seconds(take_time(test)));
  testcases_ += element.empty() ? "/>\n" : fmt::format(">\n      {}\n    </testcase>\n", element);
}

void JunitFormatter::run_finished(const ConsoleTestState& state) {
  const std::string executable = xml_escape(settings_.executable_name, XmlPlace::Attribute);
  const std::string elapsed = render_seconds(state.exec_time ? state.exec_time->duration : std::chrono::nanoseconds{});
  std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
  document += fmt::format(
      "  <testsuite name=\"{}\" tests=\"{}\" failures=\"{}\" errors=\"0\" skipped=\"{}\" time=\"{}\" "
      "timestamp=\"{}\">\n",
      executable, reported_, state.failed, state.ignored, elapsed, render_timestamp(run_start_));
  document += testcases_;
  document += "  </testsuite>\n</testsuites>\n";
  out_.write(document);
}

}  // namespace harness
