#include "environment.hpp"

#include <cstdlib>

namespace zlu_base {

EnvLookup process_environment() {
  return [](std::string_view name) -> std::optional<std::string> {
    const std::string key(name);
    if (const char* value = std::getenv(key.c_str())) return std::string(value);
    return std::nullopt;
  };
}

}  // namespace zlu_base
