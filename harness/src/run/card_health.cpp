#include "run/card_health.hpp"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "run/outcome.hpp"

namespace harness {

namespace {

// "0", "0 and 3", "0, 1 and 3".
std::string join_numbers(std::span<const unsigned> numbers) {
  if (numbers.size() <= 1) return fmt::format("{}", fmt::join(numbers, ""));
  return fmt::format("{} and {}", fmt::join(numbers.first(numbers.size() - 1), ", "), numbers.back());
}

std::string cards_phrase(std::span<const unsigned> cards) {
  return fmt::format("card{} {}", cards.size() == 1 ? "" : "s", join_numbers(cards));
}

void insert_sorted(std::vector<unsigned>& cards, unsigned card) {
  const auto at = std::lower_bound(cards.begin(), cards.end(), card);
  if (at == cards.end() || *at != card) cards.insert(at, card);
}

}  // namespace

std::vector<CardTry> card_tries(const CompletedTest& test) {
  std::vector<CardTry> tries;
  for (const Attempt& attempt : test.attempts) {
    if (const auto card = attempt.card()) tries.push_back({card->card, outcome_of(attempt.result).passed()});
  }
  return tries;
}

bool CardHealth::add_evidence(unsigned card, CardEvidence evidence) {
  auto& held = evidence_[card];
  if (std::any_of(held.begin(), held.end(), [&](const CardEvidence& e) { return e.test == evidence.test; }))
    return false;
  held.push_back(std::move(evidence));
  return true;
}

std::vector<unsigned> CardHealth::record(std::string_view test, std::span<const CardTry> tries) {
  std::vector<unsigned> grown;
  for (const CardTry& attempt : tries) insert_sorted(seen_, attempt.card);
  if (tries.empty()) return grown;
  if (tries.back().passed) {
    const unsigned passed_on = tries.back().card;
    for (const CardTry& attempt : tries.first(tries.size() - 1)) {
      if (attempt.passed || attempt.card == passed_on) continue;
      if (add_evidence(attempt.card, {std::string(test), passed_on, false})) insert_sorted(grown, attempt.card);
    }
    return grown;
  }
  const unsigned card = tries.front().card;
  const bool one_card = std::all_of(tries.begin(), tries.end(), [&](const CardTry& t) { return t.card == card; });
  const auto passes = recent_passes_.find(test);
  if (!one_card || passes == recent_passes_.end()) return grown;
  const auto elsewhere = std::find_if(passes->second.begin(), passes->second.end(), [&](unsigned c) { return c != card; });
  if (elsewhere != passes->second.end() && add_evidence(card, {std::string(test), *elsewhere, true}))
    grown.push_back(card);
  return grown;
}

std::optional<unsigned> CardHealth::blamed_card(std::span<const CardTry> tries) const {
  if (tries.empty() || !tries.back().passed) return std::nullopt;
  for (const CardTry& attempt : tries) {
    if (!attempt.passed && attempt.card != tries.back().card && evidence_.contains(attempt.card)) return attempt.card;
  }
  return std::nullopt;
}

std::vector<CardVerdict> CardHealth::verdicts(std::span<const unsigned> pool) const {
  std::vector<unsigned> cards = seen_;
  for (const unsigned card : pool) insert_sorted(cards, card);
  std::vector<CardVerdict> verdicts;
  for (const unsigned card : cards) {
    CardVerdict verdict{card, {}, false, {}};
    if (const auto* evidence = this->evidence(card)) verdict.evidence = *evidence;
    verdicts.push_back(std::move(verdict));
  }
  return verdicts;
}

const std::vector<CardEvidence>* CardHealth::evidence(unsigned card) const {
  const auto found = evidence_.find(card);
  return found == evidence_.end() ? nullptr : &found->second;
}

std::string_view card_verdict_word(const CardVerdict& verdict) {
  if (!verdict.suspect()) return "healthy";
  return verdict.quarantined ? "quarantined" : "suspect";
}

std::string render_card_verdict(const CardVerdict& verdict) {
  if (!verdict.suspect()) return fmt::format("card {} healthy", verdict.card);
  // This run's evidence in one clause, the recent runs' in another.
  std::string clauses;
  for (const bool recent : {false, true}) {
    std::vector<std::string> tests;
    std::vector<unsigned> passed_on;
    for (const CardEvidence& evidence : verdict.evidence) {
      if (evidence.recent != recent) continue;
      tests.push_back(evidence.test);
      insert_sorted(passed_on, evidence.passed_on);
    }
    if (tests.empty()) continue;
    clauses += fmt::format("{}failed {}, which passed on {}{}", clauses.empty() ? "" : "; ", fmt::join(tests, ", "),
                           cards_phrase(passed_on), recent ? " in recent runs" : "");
  }
  const std::string state =
      verdict.quarantined ? "quarantined" : fmt::format("suspect, not quarantined ({})", verdict.not_quarantined);
  return fmt::format("card {} {}: {}", verdict.card, state, clauses);
}

std::string render_card_evidence(const CardEvidence& evidence) {
  return fmt::format("{}, which passed on card {}{}", evidence.test, evidence.passed_on,
                     evidence.recent ? " in a recent run" : "");
}

std::string render_card_verdicts(std::span<const CardVerdict> verdicts) {
  std::string text;
  std::vector<unsigned> healthy;
  for (const CardVerdict& verdict : verdicts) {
    if (verdict.suspect()) {
      text += render_card_verdict(verdict) + "\n";
    } else {
      healthy.push_back(verdict.card);
    }
  }
  if (!healthy.empty()) text += fmt::format("{} healthy\n", cards_phrase(healthy));
  return text;
}

}  // namespace harness
