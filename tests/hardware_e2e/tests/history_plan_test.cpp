// How a history plans a run: the longest tests first on several workers,
// the table's order otherwise; the latest run's failures when asked.
#include <gtest/gtest.h>

#include "history/history_run.hpp"
#include "scratch_store.hpp"
#include "zlu-history/src/store.hpp"

namespace hardware_e2e {
namespace {

using namespace zlu_history;

class HistoryPlan : public testing::Test {
 protected:
  void SetUp() override { store_ = {StoreLocation::Kind::SqliteFile, (scratch_.path() / "history.db").string()}; }

  // A run of build "gnu:b1": `durations` in ms per test, negative for a failed try.
  void record(const std::string& id, Micros started, const std::vector<std::pair<std::string, Micros>>& durations) {
    auto writer = RunWriter::begin(std::move(*open_store(store_, Purpose::Record)),
                                   RunRecord{.run_id = id, .started = started, .host = "h", .build_id = "gnu:b1",
                                             .arguments = {}, .partition = "", .cards = "", .retries = 0,
                                             .task = "", .planned = {}});
    for (const auto& [test, ms] : durations) {
      ASSERT_TRUE(writer->record(AttemptRecord{.test = test, .try_number = 1, .card = 0, .started = started,
                                               .duration = std::abs(ms) * 1000, .card_wait = 0,
                                               .outcome = ms < 0 ? Outcome::Failed : Outcome::Passed,
                                               .message = "", .measurements = "{}"})
                      .has_value());
    }
    ASSERT_TRUE(writer->finish(started + 1, 0).has_value());
  }

  std::vector<std::string> planned(const harness::RunPlan& plan, bool rerun_failed = false) {
    static constexpr std::array<std::string_view, 5> NAMES = {"a", "b", "c", "d", "e"};
    std::vector<harness::TestDescAndFn> tests;
    for (const auto name : NAMES) {
      harness::TestDesc desc;
      desc.name = name;
      tests.push_back({desc, nullptr});
    }
    RunFacts facts;
    facts.build_id = "gnu:b1";
    HistoryRun run(store_, rerun_failed, facts);
    auto done = run.plan(tests, plan);
    EXPECT_TRUE(done.has_value()) << done.error();
    std::vector<std::string> names;
    for (const auto& test : tests) names.emplace_back(test.desc.name);
    return names;
  }

  zlu_history_tests::ScratchFolder scratch_;
  StoreLocation store_;
};

TEST_F(HistoryPlan, StartsTheLongestFirstOnlyOnSeveralWorkersWithoutShuffle) {
  // "c" ran longest; "a" last passed in 1 s though a later try failed
  // quickly; "b" and "d" were never recorded.
  record("r1", 100, {{"a", 1000}, {"c", 3000}, {"e", 2000}});
  record("r2", 200, {{"a", -10}});
  struct Case {
    harness::RunPlan plan;
    std::vector<std::string> order;
  };
  const std::vector<Case> cases = {
      {{.workers = 4, .shuffled = false, .retries = 0}, {"c", "e", "a", "b", "d"}},
      {{.workers = 2, .shuffled = false, .retries = 0}, {"c", "e", "a", "b", "d"}},
      {{.workers = 1, .shuffled = false, .retries = 0}, {"a", "b", "c", "d", "e"}},
      {{.workers = 4, .shuffled = true, .retries = 0}, {"a", "b", "c", "d", "e"}},
  };
  for (const auto& c : cases) EXPECT_EQ(planned(c.plan), c.order) << c.plan.workers << " " << c.plan.shuffled;
}

TEST_F(HistoryPlan, KeepsTheFailuresOfTheLatestRunOfTheBuildInTableOrder) {
  record("r1", 100, {{"a", -5}, {"b", -5}, {"c", 5}});
  record("r2", 200, {{"e", -5}, {"c", -5}, {"a", 5}});
  EXPECT_EQ(planned({.workers = 1, .shuffled = false, .retries = 0}, true), (std::vector<std::string>{"c", "e"}));
}

}  // namespace
}  // namespace hardware_e2e
