// The help text of the test executable.
#pragma once

#include <string>
#include <string_view>

namespace harness {

// The help text, byte for byte, for a program called `program_name`.
std::string help_text(std::string_view program_name);

}  // namespace harness
