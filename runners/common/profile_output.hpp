// ZLU_PROFILE_OUTPUT: every runner writes the cycle profile of its card there
// once its scenario has passed.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>

#include "card.hpp"
#include "environment.hpp"
#include "outcome.hpp"
#include "profile_writer.hpp"

namespace zlu_runner {

// The profile path, or nothing when ZLU_PROFILE_OUTPUT is unset. An empty
// value or one that names no file ("dir/") is a configuration error naming
// the variable and the value.
std::expected<std::optional<std::filesystem::path>, Failure> read_profile_output(const EnvLookup& env);

// Writes the profile of `card` to `target` (see zlu_card::write_profile: a
// new file renamed into place, a link there replaced and never followed). A
// target the profile never replaces (a directory, a socket) is a
// configuration error naming ZLU_PROFILE_OUTPUT; a failed write is a failed
// check.
std::expected<void, Failure> write_profile_output(const zlu_card::Card& card, const std::filesystem::path& target,
                                                  const zlu_card::ProfileFaults& faults = {});

// `outcome`, after writing the profile to `target` when the scenario passed
// and a target is set; a failed write replaces the passing outcome.
Outcome with_profile(Outcome outcome, const zlu_card::Card& card, const std::optional<std::filesystem::path>& target);

}  // namespace zlu_runner
