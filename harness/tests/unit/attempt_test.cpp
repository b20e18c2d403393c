// What a test body attaches to its try, and what it learns of the try it runs in.
#include <atomic>
#include <gtest/gtest.h>

#include "run/execute.hpp"
#include "run/properties.hpp"

namespace harness {
namespace {

using namespace std::chrono_literals;

TestDescAndFn make_test(std::string_view name, TestFn fn) {
  TestDesc desc;
  desc.name = name;
  return {desc, fn};
}

void attaches_twice() {
  attach(CardUse{3, 1ms});
  attach(CycleSummary{{1, 2, 3, 4}, 10, 7, 6, "card model"});
  attach(CardUse{5, 250us});
  attach_runner_output({"runner-a", "first\n", false});
  attach_runner_output({"runner-b", "second\n", true});
}

TEST(Attach, ASecondMeasurementOfAKindReplacesTheFirstInItsPlace) {
  const Attempt attempt = execute_test(0, make_test("attaches", attaches_twice), {}).last_try();
  ASSERT_EQ(attempt.measurements.size(), 2U);
  EXPECT_EQ(std::get<CardUse>(attempt.measurements[0]).card, 5U);
  EXPECT_EQ(std::get<CycleSummary>(attempt.measurements[1]).busiest_tile, 7U);
  ASSERT_EQ(attempt.runner_output.size(), 2U);
  EXPECT_EQ(attempt.runner_output[0].program, "runner-a");
  EXPECT_TRUE(attempt.runner_output[1].cut);
}

TEST(Attach, OutsideATestBodyNothingIsKeptAndNoAttemptIsRunning) {
  attach(CardUse{1, 0ns});
  attach_runner_output({"stray", "text", false});
  EXPECT_FALSE(current_attempt().has_value());
  const CompletedTest completed = execute_test(0, make_test("plain", [] {}), {});
  EXPECT_TRUE(completed.last_try().measurements.empty());
  EXPECT_TRUE(completed.last_try().runner_output.empty());
}

TEST(Attach, ACardUseShowsAsTheCardPropertiesAheadOfTheRecordedOnes) {
  struct Case {
    std::chrono::nanoseconds wait;
    std::string shown;
  };
  for (const Case& c : std::vector<Case>{{0ns, "0.000"}, {250us, "0.250"}, {1499ns, "0.001"}, {12s, "12000.000"}}) {
    const TestProperties shown = reported_properties({{"site", "lab"}}, {CycleSummary{}, CardUse{2, c.wait}});
    EXPECT_EQ(shown, (TestProperties{{"card", "2"}, {"card_wait_ms", c.shown}, {"site", "lab"}}));
  }
  EXPECT_EQ(reported_properties({{"site", "lab"}}, {CardUse{2, 1ms, false}}), (TestProperties{{"site", "lab"}}));
  EXPECT_EQ(reported_properties({}, {CycleSummary{}}), TestProperties{});
}

// Each try runs on the card of this table and fails until the last.
constexpr std::array<unsigned, 5> cards_by_try{2, 2, 5, 1, 7};
std::atomic<unsigned> tries_run{0};
std::vector<AttemptContext> seen;

void fails_on_each_card() {
  const unsigned try_number = tries_run++;
  auto context = current_attempt();
  if (context) seen.push_back(*context);
  attach(CardUse{cards_by_try.at(try_number), 0ns});
  if (try_number + 1 < cards_by_try.size()) fail("card fault");
}

TEST(CurrentAttempt, ATryKnowsItsNumberAndTheCardsEarlierTriesFailedOn) {
  tries_run = 0;
  seen.clear();
  const CompletedTest completed =
      execute_with_retries(0, make_test("picky", fails_on_each_card), ExecuteSettings{true, std::nullopt, 4});
  EXPECT_EQ(completed.result().kind, TestResult::Kind::Ok);
  ASSERT_EQ(seen.size(), 5U);
  const std::vector<std::vector<unsigned>> failed_cards{{}, {2}, {2}, {2, 5}, {2, 5, 1}};
  for (unsigned i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].test, "picky");
    EXPECT_EQ(seen[i].attempt, i + 1);
    EXPECT_EQ(seen[i].failed_cards, failed_cards[i]) << "try " << i + 1;
  }

  const std::vector<Attempt>& attempts = completed.attempts;
  ASSERT_EQ(attempts.size(), cards_by_try.size());
  EXPECT_EQ(completed.earlier_tries().size(), cards_by_try.size() - 1);
  for (std::size_t i = 0; i < attempts.size(); ++i) {
    EXPECT_EQ(attempts[i].card()->card, cards_by_try[i]) << "try " << i + 1;
    EXPECT_EQ(attempts[i].failure_message, i + 1 < attempts.size() ? "card fault" : "");
    EXPECT_EQ(attempts[i].result.kind, i + 1 < attempts.size() ? TestResult::Kind::Failed : TestResult::Kind::Ok);
    EXPECT_LE(attempts[i].started, attempts[i].ended);
    if (i > 0) {
      EXPECT_LE(attempts[i - 1].ended, attempts[i].started);
    }
  }
  const CompletedTest skipped = ignored_test(0, make_test("skipped", [] {}).desc);
  ASSERT_EQ(skipped.attempts.size(), 1U);
  EXPECT_EQ(skipped.result().kind, TestResult::Kind::Ignored);
  EXPECT_EQ(skipped.last_try().started, WallClock::time_point{}) << "a test not run has a try that never started";
}

}  // namespace
}  // namespace harness
