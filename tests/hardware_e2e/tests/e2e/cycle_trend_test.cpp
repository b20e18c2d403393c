// Cycle trends end to end: the suite on the model records each try's cycle
// summary in a history, and the companion tool shows a test's cycles over
// the runs, here with the model's exchange slowed down in the second.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using nlohmann::json;

// A test that starts the graph runner, which the slow-exchange fault slows.
constexpr const char* GRAPH_TEST = "direct_multicast_works";

class CycleTrendTest : public SuiteTest {
 protected:
  std::string history() const { return (dir() / "history.sqlite").string(); }
  SuiteRun run_model(ChildEnvironment extra) {
    ChildEnvironment environment = {{"ZLU_TEST_CYCLES", "on"},
                                    {"ZLU_TEST_HISTORY", history()},
                                    {"ZLU_TEST_LOCK_DIR", lock_dir().string()},
                                    {"TMPDIR", dir().string()}};
    for (auto& [name, value] : extra) environment[name] = value;
    return run_program(MODEL_SUITE, {GRAPH_TEST, "--exact"}, environment, dir());
  }
  SuiteRun tool(std::vector<std::string> args) {
    args.insert(args.begin(), {"--history", history()});
    return run_program(ZLU_E2E, args, {}, dir());
  }
};

TEST_F(CycleTrendTest, TheToolShowsTheExchangeCyclesGrowByTheFaultsTenPercent) {
  ASSERT_EQ(run_model({}).exit_code(), 0);
  const auto slowed = run_model({{"ZLU_SIM_FAULT", "zlu-hardware-e2e:slow-exchange=10"}});
  ASSERT_EQ(slowed.exit_code(), 0) << slowed.out << slowed.err;

  const auto listed = tool({"--json", "cycles", GRAPH_TEST});
  ASSERT_EQ(listed.exit_code(), 0) << listed.err;
  const json tries = json::parse(listed.out);
  ASSERT_EQ(tries.size(), 2U) << tries.dump();
  const json& before = tries[0]["cycles"];
  const json& after = tries[1]["cycles"];
  const std::uint64_t old_exchange = before["exchange"];
  const std::uint64_t new_exchange = after["exchange"];
  ASSERT_GT(old_exchange, 0U);
  // The fault adds 10% to each exchange step, rounded up per step.
  EXPECT_GE(new_exchange * 10, old_exchange * 11);
  EXPECT_LT(new_exchange * 100, old_exchange * 111);
  EXPECT_EQ(before["compute"], after["compute"]);
  EXPECT_EQ(before["synchronization"], after["synchronization"]);
  EXPECT_GT(tries[1]["span"].get<std::uint64_t>(), tries[0]["span"].get<std::uint64_t>());
  EXPECT_GT(tries[1]["started_us"].get<std::int64_t>(), tries[0]["started_us"].get<std::int64_t>()) << "latest last";

  const auto text = tool({"cycles", GRAPH_TEST});
  ASSERT_EQ(text.exit_code(), 0) << text.err;
  EXPECT_NE(text.out.find("change, first to last: exchange +10."), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(" compute +0.0%,"), std::string::npos) << text.out;

  // --limit keeps the latest tries; a test without recorded cycles has none.
  const json latest = json::parse(tool({"--json", "cycles", GRAPH_TEST, "--limit", "1"}).out);
  ASSERT_EQ(latest.size(), 1U);
  EXPECT_EQ(latest[0]["cycles"], after);
  EXPECT_EQ(tool({"cycles", "no_such_test"}).out,
            "no recorded cycles of no_such_test (the suite records them with ZLU_TEST_CYCLES=on)\n");
}

}  // namespace
}  // namespace hardware_e2e_tests
