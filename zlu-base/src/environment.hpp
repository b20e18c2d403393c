// Looking environment variables up, so that code which reads settings can be
// given the process's environment or a made-up one.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zlu_base {

// Looks a variable up: nullopt when unset, the raw bytes otherwise (an empty
// value is not the same as unset).
using EnvLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The lookup of the running process's own environment.
EnvLookup process_environment();

}  // namespace zlu_base
