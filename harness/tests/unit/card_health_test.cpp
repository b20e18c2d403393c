// Which card a run's failures follow, from each test's tries.
#include <gtest/gtest.h>

#include "run/card_health.hpp"

namespace harness {
namespace {

struct Finished {
  std::string test;
  std::vector<CardTry> tries;
};

// "2<-t@0,u@3~" for card 2 suspect on test t (passed on card 0) and u (passed
// on card 3 in a recent run); healthy cards are left out.
std::string suspects(const CardHealth& health, std::span<const unsigned> pool) {
  std::string text;
  for (const CardVerdict& verdict : health.verdicts(pool)) {
    if (!verdict.suspect()) continue;
    text += (text.empty() ? "" : " ") + std::to_string(verdict.card) + "<-";
    for (std::size_t i = 0; i < verdict.evidence.size(); ++i) {
      const CardEvidence& e = verdict.evidence[i];
      text += (i ? "," : "") + e.test + "@" + std::to_string(e.passed_on) + (e.recent ? "~" : "");
    }
  }
  return text;
}

TEST(CardHealth, ACardIsSuspectOnlyWhenATestItFailedPassedOnAnother) {
  struct Case {
    const char* what;
    std::vector<Finished> run;
    std::string suspects;
    std::vector<std::vector<unsigned>> grown;  // per finished test
    std::vector<std::optional<unsigned>> blamed;
  };
  const std::vector<Case> cases = {
      {"failed on 2, passed on 0", {{"t", {{2, false}, {0, true}}}}, "2<-t@0", {{2}}, {2}},
      {"passed at once", {{"t", {{2, true}}}}, "", {{}}, {std::nullopt}},
      {"failed on every card: the test's fault",
       {{"t", {{2, false}, {0, false}}}},
       "",
       {{}},
       {std::nullopt}},
      {"failed and passed on the one card", {{"t", {{0, false}, {0, true}}}}, "", {{}}, {std::nullopt}},
      {"failed on 2 and 1, passed on 0",
       {{"t", {{2, false}, {1, false}, {0, true}}}},
       "1<-t@0 2<-t@0",
       {{1, 2}},
       {2}},
      {"failed on 2 twice, passed on 3", {{"t", {{2, false}, {2, false}, {3, true}}}}, "2<-t@3", {{2}}, {2}},
      {"two tests against card 2",
       {{"t", {{2, false}, {0, true}}}, {"u", {{1, true}}}, {"v", {{2, false}, {3, true}}}},
       "2<-t@0,v@3",
       {{2}, {}, {2}},
       {2, std::nullopt, 2}},
      {"failed on 2 without a retry: no evidence", {{"t", {{2, false}}}}, "", {{}}, {std::nullopt}},
      {"a test without a card", {{"t", {}}}, "", {{}}, {std::nullopt}},
  };
  // Card 7 is not in the pool but ran a test: it has a verdict too.
  const std::vector<unsigned> pool{0, 1, 2, 3};
  for (const Case& c : cases) {
    CardHealth health;
    for (std::size_t i = 0; i < c.run.size(); ++i) {
      EXPECT_EQ(health.record(c.run[i].test, c.run[i].tries), c.grown[i]) << c.what << ", test " << i;
      EXPECT_EQ(health.blamed_card(c.run[i].tries), c.blamed[i]) << c.what << ", test " << i;
    }
    EXPECT_EQ(suspects(health, pool), c.suspects) << c.what;
    health.record("elsewhere", std::vector<CardTry>{{7, true}});
    std::vector<unsigned> cards;
    for (const CardVerdict& verdict : health.verdicts(pool)) cards.push_back(verdict.card);
    EXPECT_EQ(cards, (std::vector<unsigned>{0, 1, 2, 3, 7})) << c.what;
  }
}

TEST(CardHealth, ATestThatFailedOnOneCardAloneBlamesItWhenItRecentlyPassedOnAnother) {
  // Recent runs: t passed on cards 0 and 2, u on card 2 only.
  const RecentPasses recent = {{"t", {0, 2}}, {"u", {2}}};
  struct Case {
    const char* what;
    Finished test;
    std::string suspects;
  };
  const std::vector<Case> cases = {
      {"failed on 2 alone", {"t", {{2, false}}}, "2<-t@0~"},
      {"failed on 2 twice", {"t", {{2, false}, {2, false}}}, "2<-t@0~"},
      {"failed on 0 alone: the pass on 2 counts", {"t", {{0, false}}}, "0<-t@2~"},
      {"failed on 2, which alone it passed on", {"u", {{2, false}}}, ""},
      {"failed on 2 and 1: the test's fault", {"t", {{2, false}, {1, false}}}, ""},
      {"failed on 2, never passed recently", {"v", {{2, false}}}, ""},
      {"failed on 2, passed on 3 in this run", {"t", {{2, false}, {3, true}}}, "2<-t@3"},
  };
  const std::vector<unsigned> pool{0, 1, 2, 3};
  for (const Case& c : cases) {
    CardHealth health(recent);
    const auto grown = health.record(c.test.test, c.test.tries);
    EXPECT_EQ(grown.empty(), c.suspects.empty()) << c.what;
    EXPECT_EQ(suspects(health, pool), c.suspects) << c.what;
    // The test failed in this run wherever it passed before: it is not excused.
    if (!c.test.tries.back().passed) {
      EXPECT_EQ(health.blamed_card(c.test.tries), std::nullopt) << c.what;
    }
  }
}

TEST(CardHealth, TheLinesAfterTheSummaryNameTheTestsAndTheCardsTheyPassedOn) {
  const auto verdict = [](unsigned card, std::vector<CardEvidence> evidence, bool quarantined = true,
                          std::string why = {}) { return CardVerdict{card, std::move(evidence), quarantined, why}; };
  struct Case {
    std::vector<CardVerdict> verdicts;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{verdict(0, {}), verdict(1, {}), verdict(2, {{"direct_multicast_works", 0}, {"all_tile_reduction_works", 3}}),
        verdict(3, {})},
       "card 2 quarantined: failed direct_multicast_works, all_tile_reduction_works, which passed on cards 0 and 3\n"
       "cards 0, 1 and 3 healthy\n"},
      {{verdict(0, {})}, "card 0 healthy\n"},
      {{verdict(0, {}), verdict(1, {})}, "cards 0 and 1 healthy\n"},
      {{verdict(4, {{"t", 1}, {"u", 1}}, false, "record not written: Permission denied")},
       "card 4 suspect, not quarantined (record not written: Permission denied): failed t, u, which passed on card 1\n"},
      {{verdict(2, {{"a", 0}, {"b", 1, true}, {"c", 0, true}})},
       "card 2 quarantined: failed a, which passed on card 0; failed b, c, which passed on cards 0 and 1 in recent "
       "runs\n"},
      {{verdict(2, {{"b", 1, true}}, false, "read-only")},
       "card 2 suspect, not quarantined (read-only): failed b, which passed on card 1 in recent runs\n"},
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(render_card_verdicts(c.verdicts), c.text);
  EXPECT_EQ(render_card_evidence({"a", 0}), "a, which passed on card 0");
  EXPECT_EQ(render_card_evidence({"b", 1, true}), "b, which passed on card 1 in a recent run");
}

}  // namespace
}  // namespace harness
