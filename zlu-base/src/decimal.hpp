// Unsigned decimal numbers as command lines and environments give them.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

namespace zlu_base {

// Parses `text` as an unsigned 64-bit decimal (digits only, no sign, no
// spaces). The error is the reason shown to the user: "cannot parse integer
// from empty string", "invalid digit found in string" or "number too large
// to fit in target type", whichever the text meets first from the left.
std::expected<std::uint64_t, std::string_view> parse_decimal_u64(std::string_view text);

}  // namespace zlu_base
