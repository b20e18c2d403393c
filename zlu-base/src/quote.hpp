// Texts shown between double quotes in debug renderings of values.
#pragma once

#include <string>
#include <string_view>

namespace zlu_base {

// `text` between double quotes with `"` and `\` escaped, newline, return,
// tab and NUL as \n, \r, \t and \0, and every other control character (and
// DEL) as \u{hex}, so that the rendering stays one readable line. (JSON
// strings are quoted by the JSON report itself: JSON wants \b, \f and \u00XX.)
std::string debug_quoted(std::string_view text);

}  // namespace zlu_base
