// Reading a runner's configuration from its environment.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outcome.hpp"
#include "zlu-base/src/environment.hpp"

namespace zlu_runner {

// Looks a variable up: nullopt when unset, the raw bytes otherwise (an empty
// value is not the same as unset). Runners read the process environment; tests
// pass a map.
using zlu_base::EnvLookup;
using zlu_base::process_environment;

// A flag: unset or "0" is off, "1" is on, anything else is a configuration
// error naming the variable and the value.
std::expected<bool, Failure> parse_flag(std::string_view name, const std::optional<std::string>& value);

// An unsigned number in decimal, or in hexadecimal after "0x" when
// `allow_hex`; no sign, blanks or trailing text; at most `max`. The error
// names the variable, the value and what was expected.
std::expected<std::uint64_t, Failure> parse_unsigned(std::string_view name, std::string_view value, std::uint64_t max,
                                                     bool allow_hex);

// A hexadecimal number that must start with "0x", at most `max`.
std::expected<std::uint64_t, Failure> parse_hex(std::string_view name, std::string_view value, std::uint64_t max);

// Logical tiles separated by commas with no blanks, each below `tile_count`,
// all distinct, at least one.
std::expected<std::vector<std::uint16_t>, Failure> parse_tile_list(std::string_view name, std::string_view value,
                                                                   std::uint16_t tile_count);

// The error for a variable whose value is out of place: "NAME=\"VALUE\":
// expected WHAT". Values are quoted with non-printable bytes escaped.
Failure invalid_value(std::string_view name, std::string_view value, std::string_view expected);

}  // namespace zlu_runner
