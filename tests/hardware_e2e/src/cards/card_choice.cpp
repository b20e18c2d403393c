#include "cards/card_choice.hpp"

#include <algorithm>
#include <optional>

namespace hardware_e2e {

CardChoice::CardChoice(std::vector<unsigned> cards)
    : cards_(std::move(cards)),
      states_(cards_.size(), State::free),
      quarantined_here_(cards_.size(), false),
      quarantined_on_host_(cards_.size(), false) {}

CardChoice::Outcome CardChoice::choose(std::span<const Exclusion> exclusions, HostCards& host) {
  const auto excluded = [&](std::size_t i) {
    return std::any_of(exclusions.begin(), exclusions.end(), [&](const Exclusion& e) { return e.card == cards_[i]; });
  };
  Unavailable none;
  std::optional<TakeBack> take_back;
  // Tries the cards `excluded` says; the outcome when one is granted or unusable.
  const auto pass = [&](bool excluded_ones) -> std::optional<Outcome> {
    for (std::size_t i = 0; i < cards_.size(); ++i) {
      if (excluded(i) != excluded_ones || quarantined_here_[i] || states_[i] == State::lent) continue;
      if (states_[i] == State::reclaiming) {
        none.held_on_host = true;
        continue;
      }
      auto outcome = host.try_take(cards_[i], !take_back);
      quarantined_on_host_[i] = std::holds_alternative<HostCards::Quarantined>(outcome);
      if (quarantined_on_host_[i]) continue;
      if (auto* taken = std::get_if<HostCards::Taken>(&outcome)) {
        states_[i] = State::lent;
        return Granted{cards_[i], *taken};
      }
      if (auto* unusable = std::get_if<HostCards::Unusable>(&outcome)) return std::move(*unusable);
      if (auto* reclaim = std::get_if<std::unique_ptr<HostCards::Reclaim>>(&outcome)) {
        take_back = TakeBack{cards_[i], std::move(*reclaim)};
        continue;
      }
      auto& held = std::get<HostCards::Held>(outcome);
      none.held_on_host = true;
      if (none.news.empty()) none.news = std::move(held.news);
    }
    return std::nullopt;
  };
  if (auto outcome = pass(false)) return std::move(*outcome);
  bool preferred_left = false;
  for (std::size_t i = 0; i < cards_.size(); ++i) preferred_left = preferred_left || (!excluded(i) && !quarantined(i));
  if (!preferred_left) {
    if (auto outcome = pass(true)) return std::move(*outcome);
  }
  if (take_back) {
    states_[index_of(take_back->card)] = State::reclaiming;
    return std::move(*take_back);
  }
  bool all_quarantined = true;
  for (std::size_t i = 0; i < cards_.size(); ++i) all_quarantined = all_quarantined && quarantined(i);
  if (all_quarantined) return AllQuarantined{cards_};
  return none;
}

void CardChoice::quarantine(unsigned card) { quarantined_here_[index_of(card)] = true; }

void CardChoice::release(unsigned card) { states_[index_of(card)] = State::free; }

void CardChoice::reclaimed(unsigned card) { states_[index_of(card)] = State::free; }

std::size_t CardChoice::index_of(unsigned card) const {
  return static_cast<std::size_t>(std::find(cards_.begin(), cards_.end(), card) - cards_.begin());
}

}  // namespace hardware_e2e
