// Which card a test is granted, over a host that is a table rather than
// lock files and processes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "cards/card_choice.hpp"

namespace hardware_e2e {
namespace {

enum class On { free, held, held_by_us, left_behind, unusable, quarantined };

class TableHost final : public HostCards {
  // Each card's state on the host, missing meaning free; a card taken here
  // stays taken until given back.

 public:
  explicit TableHost(std::map<unsigned, On> cards) : cards_(std::move(cards)) {}

  std::expected<void, std::string> check(std::span<const unsigned>) const override { return {}; }

  Outcome try_take(unsigned card, bool look_for_reclaim) override {
    tried.emplace_back(card, look_for_reclaim);
    const On on = cards_.contains(card) ? cards_.at(card) : On::free;
    switch (on) {
      case On::free:
        cards_[card] = On::held_by_us;
        return Taken{static_cast<int>(100 + card), 7};
      case On::left_behind:
        if (look_for_reclaim) return std::make_unique<NoReclaim>();
        [[fallthrough]];
      case On::held:
        return Held{fmt::format("card {} is held by process 42 (other); waiting for it", card)};
      case On::held_by_us:
        return Held{};
      case On::unusable:
        return Unusable{fmt::format("card {} lock file is gone", card)};
      case On::quarantined:
        return Quarantined{};
    }
    return Unusable{"unreachable"};
  }

  void give_back(const Taken& taken) override { cards_[static_cast<unsigned>(taken.lock_fd - 100)] = On::free; }

  void set(unsigned card, On on) { cards_[card] = on; }

  std::vector<std::pair<unsigned, bool>> tried;  // each card asked for, and whether a reclaim was looked for

 private:
  struct NoReclaim final : Reclaim {
    std::string announcement() const override { return "stopping"; }
    void take_back() override {}
  };
  std::map<unsigned, On> cards_;
};

std::string render(const CardChoice::Outcome& outcome) {
  if (auto* granted = std::get_if<CardChoice::Granted>(&outcome)) {
    return fmt::format("granted {} (lock {} at {})", granted->card, granted->lock.lock_fd, granted->lock.group_offset);
  }
  if (auto* take_back = std::get_if<CardChoice::TakeBack>(&outcome)) {
    return fmt::format("take back {}", take_back->card);
  }
  if (auto* unusable = std::get_if<HostCards::Unusable>(&outcome)) return "unusable: " + unusable->why;
  if (auto* quarantined = std::get_if<CardChoice::AllQuarantined>(&outcome)) {
    return fmt::format("all quarantined: {}", fmt::join(quarantined->cards, ","));
  }
  const auto& none = std::get<CardChoice::Unavailable>(outcome);
  return none.held_on_host ? "held on host: " + none.news : "all lent here";
}

std::vector<Exclusion> failed_on(std::vector<unsigned> cards) {
  std::vector<Exclusion> exclusions;
  for (unsigned card : cards) exclusions.push_back({card, ExclusionReason::failed_by_this_test});
  return exclusions;
}

// Lends `card` to a test that failed on every other card.
void lend(CardChoice& choice, TableHost& host, unsigned card) {
  std::vector<unsigned> others;
  for (unsigned other : choice.cards()) {
    if (other != card) others.push_back(other);
  }
  ASSERT_EQ(render(choice.choose(failed_on(others), host)), fmt::format("granted {} (lock {} at 7)", card, 100 + card));
}

TEST(CardChoice, GrantsTheFirstCardItMayTakePreferringOnesNotExcluded) {
  struct Case {
    const char* what;
    std::vector<unsigned> lent_here;
    std::map<unsigned, On> host;
    std::vector<unsigned> excluded;
    std::string outcome;
    std::vector<std::pair<unsigned, bool>> tried;
  };
  const std::vector<Case> cases = {
      {"all free", {}, {}, {}, "granted 0 (lock 100 at 7)", {{0, true}}},
      {"the first lent here", {0}, {}, {}, "granted 1 (lock 101 at 7)", {{1, true}}},
      {"the first held on the host", {}, {{0, On::held}}, {}, "granted 1 (lock 101 at 7)", {{0, true}, {1, true}}},
      {"a retry after failing on 0", {}, {}, {0}, "granted 1 (lock 101 at 7)", {{1, true}}},
      {"a retry after failing on 0 and 1", {}, {}, {0, 1}, "granted 2 (lock 102 at 7)", {{2, true}}},
      {"every card excluded", {}, {}, {0, 1, 2}, "granted 0 (lock 100 at 7)", {{0, true}}},
      {"every card excluded, 0 lent", {0}, {}, {2, 1, 0}, "granted 1 (lock 101 at 7)", {{1, true}}},
      // A retry waits for a card it has not failed on rather than run again on one it has.
      {"the others lent", {1, 2}, {}, {0}, "all lent here", {}},
      {"the others held on the host",
       {},
       {{1, On::held}, {2, On::held}},
       {0},
       "held on host: card 1 is held by process 42 (other); waiting for it",
       {{1, true}, {2, true}}},
      {"the others quarantined", {}, {{1, On::quarantined}, {2, On::quarantined}}, {0}, "granted 0 (lock 100 at 7)",
       {{1, true}, {2, true}, {0, true}}},
      {"one other quarantined, the other lent",
       {2},
       {{1, On::quarantined}},
       {0},
       "all lent here",
       {{1, true}}},
      {"the first quarantined", {}, {{0, On::quarantined}}, {}, "granted 1 (lock 101 at 7)", {{0, true}, {1, true}}},
      {"every card quarantined",
       {},
       {{0, On::quarantined}, {1, On::quarantined}, {2, On::quarantined}},
       {1},
       "all quarantined: 0,1,2",
       {{0, true}, {2, true}, {1, true}}},
      {"all lent here", {0, 1, 2}, {}, {1}, "all lent here", {}},
      {"held on the host, the first news told",
       {0},
       {{1, On::held_by_us}, {2, On::held}},
       {},
       "held on host: card 2 is held by process 42 (other); waiting for it",
       {{1, true}, {2, true}}},
      {"held by ourselves only",
       {0},
       {{1, On::held_by_us}, {2, On::held_by_us}},
       {},
       "held on host: ",
       {{1, true}, {2, true}}},
      {"left behind, the rest held",
       {},
       {{0, On::held}, {1, On::left_behind}, {2, On::left_behind}},
       {},
       "take back 1",
       {{0, true}, {1, true}, {2, false}}},
      {"left behind, a later card free",
       {},
       {{0, On::left_behind}},
       {},
       "granted 1 (lock 101 at 7)",
       {{0, true}, {1, false}}},
      {"a lock file gone",
       {},
       {{0, On::held}, {1, On::unusable}},
       {},
       "unusable: card 1 lock file is gone",
       {{0, true}, {1, true}}},
  };
  for (const auto& c : cases) {
    CardChoice choice({0, 1, 2});
    TableHost host(c.host);
    for (unsigned card : c.lent_here) lend(choice, host, card);
    host.tried.clear();
    EXPECT_EQ(render(choice.choose(failed_on(c.excluded), host)), c.outcome) << c.what;
    EXPECT_EQ(host.tried, c.tried) << c.what;
  }
}

TEST(CardChoice, ACardBeingTakenBackOrLentIsSkippedUntilItIsFreeAgain) {
  CardChoice choice({0, 1});
  TableHost host({{1, On::left_behind}});
  lend(choice, host, 0);
  EXPECT_EQ(render(choice.choose({}, host)), "take back 1");
  host.tried.clear();
  EXPECT_EQ(render(choice.choose({}, host)), "held on host: ");
  EXPECT_TRUE(host.tried.empty()) << "a card being taken back is not tried";

  host.set(1, On::free);
  choice.reclaimed(1);
  EXPECT_EQ(render(choice.choose({}, host)), "granted 1 (lock 101 at 7)");
  EXPECT_EQ(render(choice.choose({}, host)), "all lent here");
  choice.release(0);
  host.give_back({100, 7});
  EXPECT_EQ(render(choice.choose(failed_on({0}), host)), "all lent here") << "a retry waits for card 1";
  choice.release(1);
  host.give_back({101, 7});
  EXPECT_EQ(render(choice.choose(failed_on({0}), host)), "granted 1 (lock 101 at 7)");
}

TEST(CardChoice, ACardQuarantinedInTheRunIsNeverGrantedAgain) {
  CardChoice choice({0, 1});
  TableHost host({});
  lend(choice, host, 1);
  choice.quarantine(1);
  choice.release(1);
  host.give_back({101, 7});
  EXPECT_EQ(render(choice.choose({}, host)), "granted 0 (lock 100 at 7)");
  EXPECT_EQ(render(choice.choose(failed_on({0}), host)), "all lent here") << "card 1 is out, card 0 lent";
  choice.quarantine(0);
  EXPECT_EQ(render(choice.choose({}, host)), "all quarantined: 0,1") << "a holder keeps it, but nobody waits for it";
}

TEST(CardChoice, ARecordReleasedOnTheHostBringsTheCardBack) {
  CardChoice choice({0, 1});
  TableHost host({{0, On::quarantined}, {1, On::quarantined}});
  EXPECT_EQ(render(choice.choose({}, host)), "all quarantined: 0,1");
  host.set(1, On::free);
  EXPECT_EQ(render(choice.choose({}, host)), "granted 1 (lock 101 at 7)");
}

}  // namespace
}  // namespace hardware_e2e
