#include "cards/card_choice.hpp"

#include <algorithm>
#include <optional>

namespace hardware_e2e {

CardChoice::CardChoice(std::vector<unsigned> cards) : cards_(std::move(cards)), states_(cards_.size(), State::free) {}

CardChoice::Outcome CardChoice::choose(std::span<const Exclusion> exclusions, HostCards& host) {
  const auto excluded = [&](std::size_t i) {
    return std::any_of(exclusions.begin(), exclusions.end(), [&](const Exclusion& e) { return e.card == cards_[i]; });
  };
  std::vector<std::size_t> order;
  order.reserve(cards_.size());
  for (std::size_t i = 0; i < cards_.size(); ++i) {
    if (!excluded(i)) order.push_back(i);
  }
  for (std::size_t i = 0; i < cards_.size(); ++i) {
    if (excluded(i)) order.push_back(i);
  }

  Unavailable none;
  std::optional<TakeBack> take_back;
  for (const std::size_t i : order) {
    if (states_[i] == State::lent) continue;
    if (states_[i] == State::reclaiming) {
      none.held_on_host = true;
      continue;
    }
    auto outcome = host.try_take(cards_[i], !take_back);
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
  if (take_back) {
    states_[index_of(take_back->card)] = State::reclaiming;
    return std::move(*take_back);
  }
  return none;
}

void CardChoice::release(unsigned card) { states_[index_of(card)] = State::free; }

void CardChoice::reclaimed(unsigned card) { states_[index_of(card)] = State::free; }

std::size_t CardChoice::index_of(unsigned card) const {
  return static_cast<std::size_t>(std::find(cards_.begin(), cards_.end(), card) - cards_.begin());
}

}  // namespace hardware_e2e
