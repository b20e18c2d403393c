// Rendering of operating-system errors in the harness's messages.
#pragma once

#include <string>

#include "zlu-base/src/fd.hpp"
#include "zlu-base/src/os_error.hpp"

namespace harness {

// "<description> (os error <n>)", e.g. "Broken pipe (os error 32)".
using zlu_base::render_os_error;

// The message that ends a run whose report (or log file) cannot be written.
std::string io_error_message(int error_number);

// Writes all of `text` to `fd`; 0, or the errno of the write that failed.
using zlu_base::write_all;

}  // namespace harness
