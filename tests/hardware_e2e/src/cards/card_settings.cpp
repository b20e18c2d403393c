#include "cards/card_settings.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include <fmt/format.h>

namespace hardware_e2e {

namespace {

// Cards past this are refused: a pool holds one slot per card.
constexpr unsigned MAX_CARD = 4095;

std::expected<unsigned, std::string> parse_card(std::string_view text) {
  if (text.empty()) return std::unexpected(std::string("empty card number"));
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::unexpected(fmt::format("\"{}\" is not a card number", text));
  }
  unsigned long long number = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number > MAX_CARD) {
    return std::unexpected(fmt::format("card {} is past the largest card number {}", text, MAX_CARD));
  }
  return static_cast<unsigned>(number);
}

std::expected<void, std::string> add_item(std::string_view item, std::vector<unsigned>& cards) {
  const auto dash = item.find('-');
  auto first = parse_card(item.substr(0, dash));
  if (!first) return std::unexpected(first.error());
  unsigned last = *first;
  if (dash != std::string_view::npos) {
    auto parsed = parse_card(item.substr(dash + 1));
    if (!parsed) return std::unexpected(parsed.error());
    if (*parsed < *first) return std::unexpected(fmt::format("range {} runs backwards", item));
    last = *parsed;
  }
  for (unsigned card = *first; card <= last; ++card) {
    if (std::find(cards.begin(), cards.end(), card) != cards.end()) {
      return std::unexpected(fmt::format("card {} is listed twice", card));
    }
    cards.push_back(card);
  }
  return {};
}

std::string quoted(std::string_view value) {
  std::string text = "\"";
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      text += fmt::format("\\x{:02x}", c);
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + "\"";
}

}  // namespace

std::expected<std::vector<unsigned>, std::string> parse_card_list(std::string_view value) {
  std::vector<unsigned> cards;
  std::size_t at = 0;
  while (true) {
    const auto comma = value.find(',', at);
    if (auto added = add_item(value.substr(at, comma - at), cards); !added) return std::unexpected(added.error());
    if (comma == std::string_view::npos) break;
    at = comma + 1;
  }
  return cards;
}

std::expected<CardSettings, std::string> read_card_settings(const SettingLookup& lookup) {
  CardSettings settings;
  if (auto value = lookup(CARDS_VARIABLE)) {
    auto cards = parse_card_list(*value);
    if (!cards) {
      return std::unexpected(fmt::format("{}={}: expected card numbers and ranges such as 0-3 or 0,2,5: {}",
                                         CARDS_VARIABLE, quoted(*value), cards.error()));
    }
    settings.cards = std::move(*cards);
    settings.cards_listed = true;
  } else if (auto value = lookup(CARD_ID_VARIABLE)) {
    auto card = parse_card(*value);
    if (!card) {
      return std::unexpected(fmt::format("{}={}: expected the number of the card to run on (or {} to list cards): {}",
                                         CARD_ID_VARIABLE, quoted(*value), CARDS_VARIABLE, card.error()));
    }
    settings.cards = {*card};
    settings.cards_listed = true;
  }
  if (auto value = lookup(LOCK_DIR_VARIABLE)) {
    if (value->empty()) return std::unexpected(fmt::format("{}=\"\": expected a folder", LOCK_DIR_VARIABLE));
    settings.lock_dir = *value;
    settings.lock_dir_given = true;
  }
  if (auto value = lookup(TIMELINE_VARIABLE)) {
    if (value->empty()) return std::unexpected(fmt::format("{}=\"\": expected a file path", TIMELINE_VARIABLE));
    settings.timeline = *value;
  }
  if (auto value = lookup(QUARANTINE_VARIABLE)) {
    if (*value != "on" && *value != "off") {
      return std::unexpected(fmt::format("{}={}: expected on or off", QUARANTINE_VARIABLE, quoted(*value)));
    }
    settings.quarantine = *value == "on";
  }
  return settings;
}

}  // namespace hardware_e2e
