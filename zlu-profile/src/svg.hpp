// The `svg` view: a picture of a profile.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "zlu-package/src/lib.hpp"

namespace zlu_profile {

// Width of the timeline in columns (pixels); a tile's samples are reduced to
// at most this many bars, which bounds the picture's size.
inline constexpr std::uint32_t TIMELINE_COLUMNS = 1000;

// Writes an SVG picture of `profile` to `out`: a timeline with time across
// and the card's 1472 tiles down by physical number, each bar coloured by
// step kind, with axis labels and a legend; beside it a map of the card's
// 23 rows of 64 positions coloured by each tile's compute share. `title`
// heads the picture (it is escaped, any text will do).
void write_svg(const zlu_package::ProfileReport& profile, std::string_view title, std::ostream& out);

// `text` with the five XML special characters replaced by entities, fit for
// element content and attribute values alike. (The JUnit report has an
// escaper of its own: it keeps text and attribute rules apart and replaces
// whole ill-formed sequences, where a picture replaces every bad byte.)
std::string xml_escape(std::string_view text);

}  // namespace zlu_profile
