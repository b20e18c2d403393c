#include "card_states.hpp"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "cards/card_settings.hpp"

namespace zlu_e2e {

namespace {

// The card a lock folder entry belongs to: "card-<n>.lock" or "card-<n>.quarantine".
std::optional<unsigned> card_of_entry(std::string_view name) {
  if (!name.starts_with("card-")) return std::nullopt;
  name.remove_prefix(5);
  const auto dot = name.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view suffix = name.substr(dot);
  if (suffix != ".lock" && suffix != ".quarantine") return std::nullopt;
  auto card = parse_card_argument(name.substr(0, dot));
  return card ? std::optional<unsigned>(*card) : std::nullopt;
}

std::set<unsigned> cards_in(const hardware_e2e::LockFolder& folder) {
  std::set<unsigned> cards;
  const int fd = ::openat(folder.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return cards;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return cards;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (auto card = card_of_entry(entry->d_name)) cards.insert(*card);
  }
  ::closedir(dir);
  return cards;
}

}  // namespace

std::string lock_dir_of_environment() {
  const char* value = std::getenv(hardware_e2e::LOCK_DIR_VARIABLE.data());
  return value != nullptr && *value != '\0' ? value : std::string(hardware_e2e::DEFAULT_LOCK_DIR);
}

std::expected<unsigned, std::string> parse_card_argument(std::string_view text) {
  auto cards = hardware_e2e::parse_card_list(text);
  if (!cards || cards->size() != 1 || text.find('-') != std::string_view::npos) {
    return std::unexpected(fmt::format("\"{}\" is not a card number from 0 to 4095", text));
  }
  return cards->front();
}

std::vector<CardState> card_states(const hardware_e2e::LockFolder& folder) {
  std::vector<CardState> states;
  for (const unsigned card : cards_in(folder)) {
    CardState state{card, false, {}, std::nullopt, {}, hardware_e2e::is_quarantined(folder, card)};
    if (state.quarantined) {
      auto record = hardware_e2e::read_quarantine(folder, card);
      if (record) {
        state.quarantine = std::move(*record);
      } else {
        state.unreadable = record.error();
      }
    }
    struct stat info{};
    if (::fstatat(folder.descriptor(), fmt::format("card-{}.lock", card).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
      auto fd = folder.open_card(card);
      if (!fd) {
        state.unreadable = fd.error();
      } else {
        state.held = !hardware_e2e::try_lock_card(*fd);
        if (state.held) {
          if (auto holder = hardware_e2e::read_holder(*fd)) state.holder = holder->pid + " " + holder->program;
        }
        ::close(*fd);
      }
    }
    states.push_back(std::move(state));
  }
  return states;
}

std::string render_card_states(const std::string& folder, const std::vector<CardState>& cards) {
  std::string text = fmt::format("lock folder {}\n", folder);
  if (cards.empty()) return text + "no card has a lock file or a quarantine record\n";
  text += fmt::format("{:>4}  {:<11}  {}\n", "CARD", "STATE", "HOLDER");
  for (const CardState& card : cards) {
    const std::string state = card.quarantined ? "quarantined" : card.held ? "held" : "free";
    std::string row = fmt::format("{:>4}  {:<11}  {}", card.card, state, card.holder);
    row.erase(row.find_last_not_of(' ') + 1);
    text += row + "\n";
    if (const auto& record = card.quarantine) {
      text += fmt::format("      reason: {}\n", record->reason);
      for (const auto& line : record->evidence) text += fmt::format("      evidence: {}\n", line);
      text += fmt::format("      since {} on {}, build {}\n", record->time, record->host, record->build);
    }
    if (!card.unreadable.empty()) text += fmt::format("      {}\n", card.unreadable);
  }
  return text;
}

nlohmann::json card_states_json(const std::vector<CardState>& cards) {
  auto list = nlohmann::json::array();
  for (const CardState& card : cards) {
    nlohmann::json entry = {{"card", card.card},
                            {"state", card.quarantined ? "quarantined" : card.held ? "held" : "free"},
                            {"holder", card.holder}};
    if (const auto& record = card.quarantine) {
      entry["quarantine"] = {{"reason", record->reason}, {"evidence", record->evidence}, {"host", record->host},
                             {"time", record->time},     {"build", record->build}};
    }
    if (!card.unreadable.empty()) entry["error"] = card.unreadable;
    list.push_back(std::move(entry));
  }
  return list;
}

}  // namespace zlu_e2e
