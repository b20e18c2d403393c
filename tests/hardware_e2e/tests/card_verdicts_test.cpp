// The verdicts the history keeps: the run's own, made suspect also by the
// recent runs' evidence against the card.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/card_verdicts.hpp"

namespace hardware_e2e {
namespace {

using harness::CardEvidence;
using harness::CardVerdict;
using zlu_history::HistoryEvidence;

TEST(StoredVerdicts, JoinTheRunsVerdictWithTheRecentEvidenceOfTheSameCard) {
  struct Case {
    const char* what;
    CardVerdict run;
    std::vector<HistoryEvidence> recent;
    std::string verdict;
    std::string evidence;
  };
  const std::vector<Case> cases = {
      {"healthy, nothing recent", {1, {}, false, {}}, {}, "healthy", "[]"},
      {"healthy, recent evidence against another card", {1, {}, false, {}}, {{2, "t", 0}}, "healthy", "[]"},
      {"healthy, recent evidence against it",
       {1, {}, false, {}},
       {{1, "t", 0}},
       "suspect",
       R"([{"passed_on":0,"test":"t"}])"},
      {"quarantined in the run, the same test recently on another card",
       {2, {CardEvidence{"t", 3}}, true, {}},
       {{2, "t", 0}, {2, "a", 1}},
       "quarantined",
       R"([{"passed_on":1,"test":"a"},{"passed_on":3,"test":"t"}])"},
      {"suspect, not quarantined", {2, {CardEvidence{"t", 3}}, false, "the lock folder is read-only"}, {}, "suspect",
       R"([{"passed_on":3,"test":"t"}])"},
  };
  for (const Case& c : cases) {
    const std::vector<CardVerdict> run = {c.run};
    const auto stored = stored_verdicts(run, c.recent);
    ASSERT_EQ(stored.size(), 1U) << c.what;
    EXPECT_EQ(stored[0].card, c.run.card) << c.what;
    EXPECT_EQ(stored[0].verdict, c.verdict) << c.what;
    EXPECT_EQ(stored[0].evidence, c.evidence) << c.what;
  }
  // A card the run did not judge gets no verdict from the recent runs alone.
  const std::vector<HistoryEvidence> recent = {{7, "t", 0}};
  EXPECT_TRUE(stored_verdicts({}, recent).empty());
}

}  // namespace
}  // namespace hardware_e2e
