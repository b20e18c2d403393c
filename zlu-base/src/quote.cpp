#include "quote.hpp"

#include <fmt/format.h>

namespace zlu_base {

std::string debug_quoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      case '\0': quoted += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          quoted += fmt::format("\\u{{{:x}}}", byte);
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

}  // namespace zlu_base
