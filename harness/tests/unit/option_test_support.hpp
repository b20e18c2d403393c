// Shorthands for running parse_opts on a made-up command line and environment.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "options/options.hpp"

namespace harness::testing {

using Env = std::map<std::string, std::string>;

inline EnvLookup lookup(Env env) {
  return [env = std::move(env)](std::string_view name) -> std::optional<std::string> {
    const auto found = env.find(std::string(name));
    if (found == env.end()) return std::nullopt;
    return found->second;
  };
}

inline std::vector<std::string> command(std::vector<std::string> rest) {
  rest.insert(rest.begin(), "./hardware_e2e");
  return rest;
}

inline std::expected<ParsedOpts, EarlyExit> parse(std::vector<std::string> rest, Env env = {}) {
  return parse_opts(command(std::move(rest)), lookup(std::move(env)));
}

// The error line of a command line that must be refused, or a note saying it was not.
inline std::string refusal(std::vector<std::string> rest, Env env = {}) {
  const auto parsed = parse(std::move(rest), std::move(env));
  if (parsed) return "<accepted>";
  if (parsed.error().status != 101 || !parsed.error().stdout_text.empty()) return "<not an option error>";
  return parsed.error().stderr_text;
}

inline const Env gate_open{{"ZLU_TEST_BOOTSTRAP", "1"}};

}  // namespace harness::testing
