// Operating-system error numbers as the messages of this project show them.
#pragma once

#include <string>
#include <string_view>

namespace zlu_base {

// The system's description of `error_number`, e.g. "Broken pipe".
std::string os_error_text(int error_number);

// The description and the number: "Broken pipe (os error 32)", the form of
// the harness's messages (the suite's name the kind too, below).
std::string render_os_error(int error_number);

// A stable word for the kind of `error_number` that a reader can search for:
// "NotFound", "PermissionDenied", ...; "Uncategorized" when none fits.
std::string_view os_error_kind(int error_number);

// The description, the number and the kind:
// "No such file or directory (os error 2, kind NotFound)".
std::string render_os_error_with_kind(int error_number);

}  // namespace zlu_base
