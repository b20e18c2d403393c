// The time thresholds of `--report-time` and `--ensure-time`.
#pragma once

#include <expected>
#include <string>

#include "options/options.hpp"

namespace harness {

// The time options with each test kind's thresholds taken from its variable
// when set ("WARN,CRITICAL" in milliseconds), else the defaults. The error
// names the variable and what was wrong with its value.
std::expected<TestTimeOptions, std::string> time_options_from_env(bool error_on_excess, const EnvLookup& env);

}  // namespace harness
