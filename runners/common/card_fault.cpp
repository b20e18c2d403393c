#include "card_fault.hpp"

#include <set>

#include <fmt/format.h>

#include "card_id.hpp"

namespace zlu_runner {
namespace {

constexpr std::uint64_t MAX_CARD = 4095;
constexpr std::uint64_t MAX_BIT = 31;

Failure malformed(std::string_view value, std::string_view item) {
  return invalid_value(SIM_CARD_FAULT_VARIABLE, value,
                       fmt::format("comma-separated <card>:tile=<T>:stuck-bit=<B> items with card 0 to {}, tile 0 to "
                                   "{} and bit 0 to {}, one per card; \"{}\" is not one",
                                   MAX_CARD, zlu_exchange::N700_TILES - 1, MAX_BIT, item));
}

// The number after `prefix` in `field`, at most `max`.
std::optional<std::uint64_t> field_number(std::string_view field, std::string_view prefix, std::uint64_t max) {
  if (!field.starts_with(prefix)) return std::nullopt;
  const auto number = parse_unsigned(SIM_CARD_FAULT_VARIABLE, field.substr(prefix.size()), max, false);
  if (!number) return std::nullopt;
  return *number;
}

}  // namespace

std::expected<std::optional<zlu_card::StuckBit>, Failure> parse_card_fault(std::optional<unsigned> card,
                                                                           std::string_view value) {
  std::optional<zlu_card::StuckBit> ours;
  if (value.empty()) return ours;
  std::set<std::uint64_t> cards_named;
  std::string_view rest = value;
  while (true) {
    const auto comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const auto first = item.find(':');
    const auto second = first == std::string_view::npos ? first : item.find(':', first + 1);
    if (second == std::string_view::npos) return std::unexpected(malformed(value, item));
    const auto named = parse_unsigned(SIM_CARD_FAULT_VARIABLE, item.substr(0, first), MAX_CARD, false);
    const auto tile = field_number(item.substr(first + 1, second - first - 1), "tile=", zlu_exchange::N700_TILES - 1);
    const auto bit = field_number(item.substr(second + 1), "stuck-bit=", MAX_BIT);
    if (!named || !tile || !bit || !cards_named.insert(*named).second) {
      return std::unexpected(malformed(value, item));
    }
    if (card && *named == *card) {
      ours = zlu_card::StuckBit{static_cast<std::uint16_t>(*tile), static_cast<unsigned>(*bit)};
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return ours;
}

std::expected<zlu_card::CardOptions, Failure> with_card_fault(zlu_card::CardOptions options, const EnvLookup& env) {
  const auto value = env(SIM_CARD_FAULT_VARIABLE);
  if (!value) return options;
  std::optional<unsigned> card;
  if (const auto id = env(CARD_ID_VARIABLE)) {
    auto parsed = parse_unsigned(CARD_ID_VARIABLE, *id, MAX_CARD, false);
    if (!parsed) return std::unexpected(parsed.error());
    card = static_cast<unsigned>(*parsed);
  }
  auto stuck = parse_card_fault(card, *value);
  if (!stuck) return std::unexpected(stuck.error());
  options.faults.stuck_bit = *stuck;
  return options;
}

}  // namespace zlu_runner
