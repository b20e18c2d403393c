// Rendering of an operating-system error number for failure messages.
#pragma once

#include <string>

#include "zlu-base/src/os_error.hpp"

namespace hardware_e2e {

// The kind of an error number: "NotFound", "PermissionDenied", ...
using zlu_base::os_error_kind;

// The system's message, the number and the kind:
// "No such file or directory (os error 2, kind NotFound)". It differs from
// the harness's zlu_base::render_os_error, which leaves out the kind: the
// suite's failure messages have always named it, the harness's never have.
inline std::string render_os_error(int error_number) { return zlu_base::render_os_error_with_kind(error_number); }

}  // namespace hardware_e2e
