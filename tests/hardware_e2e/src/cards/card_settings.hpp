// The suite's card settings, read once from the environment at start-up:
// which cards the host has, where their host-wide locks live, where the
// run's timeline goes and whether a suspect card is quarantined.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runners/common/contract.hpp"

namespace hardware_e2e {

inline constexpr std::string_view CARDS_VARIABLE = "ZLU_TEST_CARDS";
inline constexpr std::string_view LOCK_DIR_VARIABLE = "ZLU_TEST_LOCK_DIR";
inline constexpr std::string_view TIMELINE_VARIABLE = "ZLU_TEST_TIMELINE";
inline constexpr std::string_view QUARANTINE_VARIABLE = "ZLU_TEST_QUARANTINE";
inline constexpr std::string_view CARD_ID_VARIABLE = zlu_contract::CARD_ID;
// What the suite tells each runner; inherited from whoever started the
// suite, it names the one card the run may use unless ZLU_TEST_CARDS says
// otherwise, so that a runner never drives a card the suite did not lock.

inline constexpr std::string_view DEFAULT_LOCK_DIR = "/tmp/zlu-card-locks";
// Shared by every user of the host: created world-writable with the sticky
// bit, like the folder it sits in, so that each user can add lock files and
// none can remove another's.

struct CardSettings {
  std::vector<unsigned> cards = {0};
  bool cards_listed = false;
  // Whether ZLU_TEST_CARDS or ZLU_CARD_ID was set: only then do runners
  // learn their card.
  std::string lock_dir = std::string(DEFAULT_LOCK_DIR);
  bool lock_dir_given = false;
  std::optional<std::string> timeline;
  bool quarantine = false;
  // ZLU_TEST_QUARANTINE=on: a card found suspect is quarantined on the host,
  // and a test it failed that passed on a healthy card is counted its fault.
};

std::expected<std::vector<unsigned>, std::string> parse_card_list(std::string_view value);
// Card numbers and ranges separated by commas, e.g. "0-3" or "0,2,5": no
// blanks, signs or empty items, every range ascending, no card twice. The
// error text says what is wrong, without the variable.

using SettingLookup = std::function<std::optional<std::string>(std::string_view name)>;

std::expected<CardSettings, std::string> read_card_settings(const SettingLookup& lookup);
// The settings, or the one line that refuses a malformed one, naming the
// variable and its value.

}  // namespace hardware_e2e
