// Telling a failure that follows a card from one that follows the test. A
// test whose tries failed on one card and then passed on another is the
// evidence: the card it failed on is suspect. A test that failed on every
// card it ran on says nothing of any card (its fault follows the test), nor
// does a test that failed and passed on the same card.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib.hpp"
#include "run/result.hpp"

namespace harness {

struct CardTry {
  // One try of a test: the card it ran on and whether it passed.
  unsigned card = 0;
  bool passed = false;
};

// The tries of `test` that ran on a card (a try without a CardUse is left
// out), in order.
std::vector<CardTry> card_tries(const CompletedTest& test);

class CardHealth {
  // The run's test-by-card record, fed once per finished test; a card is
  // suspect from the first test it failed that passed on another card. A
  // test whose every try failed, all on one card, is evidence against that
  // card when it passed on another in `recent_passes` (the build's recent
  // runs on this host); a test that failed on several cards blames none.

 public:
  explicit CardHealth(RecentPasses recent_passes = {}) : recent_passes_(std::move(recent_passes)) {}

  std::vector<unsigned> record(std::string_view test, std::span<const CardTry> tries);
  // Adds a finished test's tries; returns the cards whose evidence this
  // test added to, in number order.

  std::optional<unsigned> blamed_card(std::span<const CardTry> tries) const;
  // The card a test with these tries failed on, when it passed in the end
  // on another card: the first card it failed on that is suspect.

  std::vector<CardVerdict> verdicts(std::span<const unsigned> pool) const;
  // A verdict for each card of `pool` and each card a test ran on, in number
  // order: suspect with its evidence, or healthy.

  const std::vector<CardEvidence>* evidence(unsigned card) const;
  // The evidence against `card` so far; none for a healthy card.

 private:
  // Adds `evidence` against `card` unless its test is already held against
  // it; true when it was added.
  bool add_evidence(unsigned card, CardEvidence evidence);

  RecentPasses recent_passes_;
  std::map<unsigned, std::vector<CardEvidence>> evidence_;
  std::vector<unsigned> seen_;
};

std::string_view card_verdict_word(const CardVerdict& verdict);
// "healthy", "quarantined", or "suspect" for a card that could not be.

std::string render_card_verdict(const CardVerdict& verdict);
// The verdict's line without its line end: "card 2 quarantined: failed ...",
// "card 0 healthy". Evidence from the recent runs comes after this run's:
//   card 2 quarantined: failed a, which passed on card 0; failed b, which passed on card 1 in recent runs

std::string render_card_evidence(const CardEvidence& evidence);
// One test of the evidence, as the quarantine record and the timeline give
// it: "a, which passed on card 0", "b, which passed on card 1 in a recent run".

std::string render_card_verdicts(std::span<const CardVerdict> verdicts);
// The lines the console prints after the summary, one per suspect card and
// one for the healthy cards, e.g.
//   card 2 quarantined: failed direct_multicast_works, all_tile_reduction_works, which passed on cards 0 and 3
//   cards 0, 1 and 3 healthy

}  // namespace harness
