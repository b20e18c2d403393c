// Strict UTF-8 validation of profile texts.
#pragma once

#include "zlu-base/src/utf8.hpp"

namespace zlu_package {

using zlu_base::validate_utf8;

}  // namespace zlu_package
