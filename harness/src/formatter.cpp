#include "formatter.hpp"

#include "json.hpp"
#include "junit.hpp"
#include "pretty.hpp"
#include "terse.hpp"

namespace harness {

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

}  // namespace harness
