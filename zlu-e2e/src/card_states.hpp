// What the lock folder says of each card: free, held (and by whom) or
// quarantined (and on what evidence). Read without changing anything but a
// lock taken for an instant to tell a free card from a held one.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cards/card_lock.hpp"
#include "cards/quarantine.hpp"

namespace zlu_e2e {

struct CardState {
  unsigned card = 0;
  bool held = false;
  std::string holder;  // "<pid> <program>" of a held card, when recorded
  std::optional<hardware_e2e::QuarantineRecord> quarantine;
  std::string unreadable;  // why the quarantine record or lock file could not be read
  bool quarantined = false;  // a record stands there, readable or not
};

std::string lock_dir_of_environment();
// ZLU_TEST_LOCK_DIR, or the suite's default.

std::vector<CardState> card_states(const hardware_e2e::LockFolder& folder);
// Every card with a lock file or a quarantine record in `folder`, in number order.

std::string render_card_states(const std::string& folder, const std::vector<CardState>& cards);
nlohmann::json card_states_json(const std::vector<CardState>& cards);

std::expected<unsigned, std::string> parse_card_argument(std::string_view text);
// A card number from 0 to 4095, as the suite's ZLU_TEST_CARDS takes them.

}  // namespace zlu_e2e
