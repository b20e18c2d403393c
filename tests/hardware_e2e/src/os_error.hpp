// Rendering of an operating-system error number for failure messages.
#pragma once

#include <string>
#include <string_view>

namespace hardware_e2e {

std::string_view os_error_kind(int error_number);
// The kind of an error number, a stable word a reader can search for:
// "NotFound", "PermissionDenied", ...; "Uncategorized" when none fits.

std::string render_os_error(int error_number);
// The system's message, the number and the kind:
// "No such file or directory (os error 2, kind NotFound)".

}  // namespace hardware_e2e
