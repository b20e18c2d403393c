#include "formatter.hpp"

#include "pretty.hpp"
#include "terse.hpp"

namespace harness {

std::expected<std::unique_ptr<Formatter>, std::string> make_formatter(OutputFormat format, ConsoleOutput& out,
                                                                      const FormatterSettings& settings) {
  switch (format) {
    case OutputFormat::Pretty: return std::make_unique<PrettyFormatter>(out, settings);
    case OutputFormat::Terse: return std::make_unique<TerseFormatter>(out, settings);
    case OutputFormat::Json: return std::unexpected(std::string("the json format is not available yet"));
    case OutputFormat::Junit: return std::unexpected(std::string("the junit format is not available yet"));
  }
  return std::unexpected(std::string("unknown output format"));
}

}  // namespace harness
