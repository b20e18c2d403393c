#include "profile_output.hpp"

#include <fmt/format.h>

namespace zlu_runner {

std::expected<std::optional<std::filesystem::path>, Failure> read_profile_output(const EnvLookup& env) {
  const auto output = env(zlu_contract::PROFILE_OUTPUT);
  if (!output) return std::nullopt;
  if (output->empty() || std::filesystem::path(*output).filename().empty()) {
    return std::unexpected(invalid_value(zlu_contract::PROFILE_OUTPUT, *output, "the path of a file"));
  }
  return std::filesystem::path(*output);
}

std::expected<void, Failure> write_profile_output(const zlu_card::Card& card, const std::filesystem::path& target,
                                                  const zlu_card::ProfileFaults& faults) {
  auto written = zlu_card::write_profile(card, target, faults);
  if (written) return {};
  if (written.error().refused) {
    return std::unexpected(invalid_value(zlu_contract::PROFILE_OUTPUT, target.string(),
                                         fmt::format("a file, a character device or a FIFO ({})", written.error().message)));
  }
  return std::unexpected(Failure::check(fmt::format("profile not written: {}", written.error().message)));
}

Outcome with_profile(Outcome outcome, const zlu_card::Card& card, const std::optional<std::filesystem::path>& target) {
  if (!outcome || !target) return outcome;
  if (auto written = write_profile_output(card, *target); !written) return std::unexpected(written.error());
  return outcome;
}

}  // namespace zlu_runner
