#include "reports/formatter.hpp"

#include <fmt/format.h>
#include <random>

#include "reports/json.hpp"
#include "reports/junit.hpp"
#include "reports/pretty.hpp"
#include "reports/terse.hpp"

namespace harness {

std::string new_run_id() {
  std::random_device source;
  std::string id;
  for (int i = 0; i < 4; ++i) id += fmt::format("{:08x}", static_cast<std::uint32_t>(source()));
  return id;
}

std::expected<std::unique_ptr<Formatter>, std::string> make_formatter(OutputFormat format, ConsoleOutput& out,
                                                                      const FormatterSettings& settings) {
  switch (format) {
    case OutputFormat::Pretty: return std::make_unique<PrettyFormatter>(out, settings);
    case OutputFormat::Terse: return std::make_unique<TerseFormatter>(out, settings);
    case OutputFormat::Json: return std::make_unique<JsonFormatter>(out, settings);
    case OutputFormat::Junit: return std::make_unique<JunitFormatter>(out, settings);
  }
  return std::unexpected(std::string("unknown output format"));
}

void FanOut::run_started(const RunStart& start) {
  for (const auto& formatter : formatters_) formatter->run_started(start);
}

void FanOut::test_started(const TestEvent& event) {
  for (const auto& formatter : formatters_) formatter->test_started(event);
}

void FanOut::still_running(const TestEvent& event) {
  for (const auto& formatter : formatters_) formatter->still_running(event);
}

void FanOut::test_result(const ResultEvent& event) {
  for (const auto& formatter : formatters_) formatter->test_result(event);
}

void FanOut::try_failed(const ResultEvent& event) {
  for (const auto& formatter : formatters_) formatter->try_failed(event);
}

void FanOut::run_finished(const RunEnd& event) {
  for (const auto& formatter : formatters_) formatter->run_finished(event);
}

int FanOut::error() const {
  for (const auto& formatter : formatters_)
    if (const int error = formatter->error(); error != 0) return error;
  return 0;
}

}  // namespace harness
