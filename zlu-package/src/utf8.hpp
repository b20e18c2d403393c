// Strict UTF-8 validation of profile texts.
#pragma once

#include <optional>
#include <string_view>

#include "error.hpp"

namespace zlu_package {

std::optional<Utf8Error> validate_utf8(std::string_view bytes);
// Empty when `bytes` is entirely well-formed UTF-8. Overlong forms,
// surrogates (U+D800 to U+DFFF) and values above U+10FFFF are rejected; a
// zero byte is an ordinary character.

}  // namespace zlu_package
