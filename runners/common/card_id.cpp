#include "card_id.hpp"

#include <fmt/format.h>

namespace zlu_runner {

std::expected<std::string, Failure> report_name(std::string_view runner, const EnvLookup& env) {
  const auto value = env(CARD_ID_VARIABLE);
  if (!value) return std::string(runner);
  auto card = parse_unsigned(CARD_ID_VARIABLE, *value, 4095, false);
  if (!card) return std::unexpected(card.error());
  return fmt::format("{} on card {}", runner, *card);
}

}  // namespace zlu_runner
