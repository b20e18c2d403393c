// Card health on the model: four model cards, one with a stuck SRAM bit,
// the suite built against the real runners, and the companion tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

namespace fs = std::filesystem;

// A stuck bit on tile 117: the four tests whose data passes through it fail
// on that card; the other nineteen never notice.
constexpr const char* STUCK_TILE = "tile=117:stuck-bit=5";

class CardHealthTest : public SuiteTest {
 protected:
  // The model suite on `cards` (the pool's order is the order of preference),
  // one test at a time so that which test meets the bad card first is fixed.
  SuiteRun run_model(const std::string& cards, const std::string& faults, ChildEnvironment extra = {},
                     const std::vector<std::string>& format = {}, const std::vector<std::string>& filters = {}) {
    ChildEnvironment environment = {{"ZLU_TEST_CARDS", cards},
                                    {"ZLU_TEST_LOCK_DIR", lock_dir().string()},
                                    {"ZLU_TEST_RETRIES", "1"},
                                    {"ZLU_TEST_QUARANTINE", "on"},
                                    {"ZLU_SIM_CARD_FAULT", faults}};
    for (auto& [name, value] : extra) environment[name] = value;
    std::vector<std::string> args = {"--test-threads", "1"};
    if (!format.empty()) args.insert(args.end(), {"-Z", "unstable-options", "--format"});
    args.insert(args.end(), format.begin(), format.end());
    args.insert(args.end(), filters.begin(), filters.end());
    return run_program(MODEL_SUITE, args, environment, dir());
  }
  SuiteRun tool(const std::vector<std::string>& args) {
    return run_program(ZLU_E2E, args, {{"ZLU_TEST_LOCK_DIR", lock_dir().string()}}, dir());
  }
  std::vector<std::string> records() const {
    std::vector<std::string> names;
    if (!fs::exists(lock_dir())) return names;
    for (const auto& entry : fs::directory_iterator(lock_dir())) {
      if (entry.path().extension() == ".quarantine") names.push_back(entry.path().filename().string());
    }
    return names;
  }
  std::string record_text(unsigned card) const {
    std::ifstream in(lock_dir() / ("card-" + std::to_string(card) + ".quarantine"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t found = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
  return found;
}

TEST_F(CardHealthTest, AStuckCardIsQuarantinedKeptOutOfTheNextSuiteAndBackOnceReleased) {
  const SuiteRun first = run_model("2,0,1,3", std::string("2:") + STUCK_TILE,
                                   {{"ZLU_TEST_TIMELINE", (dir() / "timeline.json").string()}});
  EXPECT_EQ(first.exit_code(), 0) << first.out << first.err;
  EXPECT_EQ(count(first.err, "zlu-hardware-e2e on card 2: check failed"), 1U) << first.err;
  EXPECT_NE(first.out.find("\nok (card 2 at fault: passed on try 2 of 2)\n"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("23 passed; 0 failed; 0 ignored; 0 measured; 0 filtered out; finished in "),
            std::string::npos);
  EXPECT_NE(first.out.find("s\n\ncard 2 quarantined: failed all_tile_permutation_works, which passed on card 0\n"
                           "cards 0, 1 and 3 healthy\n\n"),
            std::string::npos)
      << first.out;
  EXPECT_EQ(first.out.find("flaky"), std::string::npos) << "a card's fault is not a flaky test";
  EXPECT_EQ(records(), std::vector<std::string>{"card-2.quarantine"});
  const std::string record = record_text(2);
  EXPECT_TRUE(record.starts_with("card: 2\nreason: failed tests that passed on other cards\n"
                                 "evidence: all_tile_permutation_works, which passed on card 0\nhost: "))
      << record;
  EXPECT_NE(record.find("\nbuild: "), std::string::npos) << record;
  std::vector<nlohmann::json> markers;
  const auto timeline = nlohmann::json::parse(std::ifstream(dir() / "timeline.json"));
  for (const auto& event : timeline["traceEvents"]) {
    if (event["ph"] == "i") markers.push_back(event);
  }
  ASSERT_EQ(markers.size(), 1U) << timeline.dump().substr(0, 300);
  EXPECT_EQ(markers[0]["name"], "quarantined");
  EXPECT_EQ(markers[0]["tid"], 2) << "on card 2's track";
  EXPECT_EQ(markers[0]["args"]["evidence"], nlohmann::json({"all_tile_permutation_works, which passed on card 0"}));

  const SuiteRun cards = tool({"cards"});
  EXPECT_EQ(cards.exit_code(), 0);
  EXPECT_NE(cards.out.find("   2  quarantined\n      reason: failed tests that passed on other cards\n"
                           "      evidence: all_tile_permutation_works, which passed on card 0\n"),
            std::string::npos)
      << cards.out;

  const SuiteRun next = run_model("2,0,1,3", std::string("2:") + STUCK_TILE);
  EXPECT_EQ(next.exit_code(), 0) << next.out << next.err;
  EXPECT_EQ(count(next.out + next.err, "on card 2"), 0U) << next.out;

  EXPECT_EQ(tool({"release", "2"}).out, "card 2 released\n");
  EXPECT_TRUE(records().empty());
  const SuiteRun released = run_model("2,0,1,3", "");
  EXPECT_EQ(released.exit_code(), 0) << released.err;
  EXPECT_GT(count(released.out, "on card 2: ok"), 0U) << released.out;
}

TEST_F(CardHealthTest, TheVerdictsGoToTheHistoryWhosePassesBlameACardThatFailsAloneLater) {
  const std::string history = (dir() / "history.sqlite").string();
  const std::string fault = std::string("2:") + STUCK_TILE;
  const auto verdicts = [&] {
    const SuiteRun cards =
        run_program(ZLU_E2E, {"--history", history, "--json", "cards"}, {{"ZLU_TEST_LOCK_DIR", lock_dir().string()}},
                    dir());
    EXPECT_EQ(cards.exit_code(), 0) << cards.err;
    std::map<int, nlohmann::json> by_card;
    for (const auto& card : nlohmann::json::parse(cards.out)) by_card[card["card"].get<int>()] = card;
    return by_card;
  };
  const SuiteRun stuck = run_model("2,0,1,3", fault, {{"ZLU_TEST_HISTORY", history}});
  ASSERT_EQ(stuck.exit_code(), 0) << stuck.out << stuck.err;
  auto first = verdicts();
  ASSERT_EQ(first.size(), 4U);
  EXPECT_EQ(first[2]["verdict"], "quarantined");
  EXPECT_EQ(first[2]["verdict_evidence"],
            nlohmann::json::parse(R"([{"test":"all_tile_permutation_works","passed_on":0}])"));
  for (const int card : {0, 1, 3}) EXPECT_EQ(first[card]["verdict"], "healthy") << card;

  // Released unmended, card 2 runs the test alone and once: nothing in the
  // run passes it elsewhere, but the run before passed it on card 0. The
  // test still fails: only a pass in the run itself excuses it.
  ASSERT_EQ(tool({"release", "2"}).exit_code(), 0);
  const SuiteRun alone = run_model("2", fault, {{"ZLU_TEST_HISTORY", history}, {"ZLU_TEST_RETRIES", "0"}}, {},
                                   {"--exact", "all_tile_permutation_works"});
  EXPECT_EQ(alone.exit_code(), 101) << alone.out << alone.err;
  EXPECT_TRUE(alone.out.ends_with(
      "\ncard 2 quarantined: failed all_tile_permutation_works, which passed on card 0 in recent runs\n\n"))
      << alone.out;
  EXPECT_NE(record_text(2).find("\nevidence: all_tile_permutation_works, which passed on card 0 in a recent run\n"),
            std::string::npos)
      << record_text(2);
  auto second = verdicts();
  EXPECT_EQ(second[2]["verdict"], "quarantined");
  EXPECT_EQ(second[2]["verdict_evidence"],
            nlohmann::json::parse(R"([{"test":"all_tile_permutation_works","passed_on":0,"recent":true}])"));
  EXPECT_NE(second[2]["verdict_run"], first[2]["verdict_run"]);
  EXPECT_EQ(second[0]["verdict_run"], first[0]["verdict_run"]) << "card 0 was not judged again";
}

TEST_F(CardHealthTest, NoCardIsBlamedForAFaultOnEveryCardOrWithNothingToCompare) {
  struct Case {
    const char* what;
    std::string cards;
    std::string faults;
    std::string healthy;
  };
  const std::string stuck = STUCK_TILE;
  const std::vector<Case> cases = {
      {"every card", "0-3", "0:" + stuck + ",1:" + stuck + ",2:" + stuck + ",3:" + stuck,
       "\ncards 0, 1, 2 and 3 healthy\n\n"},
      {"one card only", "2", "2:" + stuck, "\ncard 2 healthy\n\n"},
  };
  for (const Case& c : cases) {
    const SuiteRun run = run_model(c.cards, c.faults);
    EXPECT_EQ(run.exit_code(), 101) << c.what;
    EXPECT_NE(run.out.find("4 failed"), std::string::npos) << c.what << "\n" << run.out;
    EXPECT_TRUE(run.out.ends_with(c.healthy)) << c.what << "\n" << run.out;
    EXPECT_TRUE(records().empty()) << c.what;
  }
}

TEST_F(CardHealthTest, TheMachineReadableReportsCarryEachCardsVerdict) {
  const std::string fault = std::string("2:") + STUCK_TILE;
  const SuiteRun json = run_model("2,0,1,3", fault, {{"ZLU_TEST_BOOTSTRAP", "1"}}, {"json"});
  EXPECT_EQ(json.exit_code(), 0) << json.err;
  std::vector<nlohmann::json> cards;
  nlohmann::json result;
  std::istringstream lines(json.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("{")) continue;
    const auto event = nlohmann::json::parse(line);
    if (event["type"] == "card") cards.push_back(event);
    if (event.value("name", "") == "all_tile_permutation_works" && event["event"] == "ok") result = event;
  }
  EXPECT_EQ(result.value("card_fault", -1), 2) << result.dump();
  EXPECT_FALSE(result.contains("flaky")) << result.dump();
  ASSERT_EQ(cards.size(), 4U) << json.out;
  EXPECT_EQ(cards[2], nlohmann::json::parse(R"({"type":"card","event":"quarantined","card":2,)"
                                            R"("evidence":[{"test":"all_tile_permutation_works","passed_on":0}]})"));
  EXPECT_EQ(cards[3], nlohmann::json::parse(R"({"type":"card","event":"healthy","card":3})"));

  EXPECT_EQ(tool({"release", "2"}).exit_code(), 0);
  const SuiteRun junit = run_model("2,0,1,3", fault, {{"ZLU_TEST_BOOTSTRAP", "1"}}, {"junit"});
  EXPECT_EQ(junit.exit_code(), 0) << junit.err;
  EXPECT_NE(junit.out.find("<property name=\"card.2\" value=\"card 2 quarantined: failed all_tile_permutation_works, "
                           "which passed on card 0\"/>"),
            std::string::npos)
      << junit.out;
  EXPECT_NE(junit.out.find("<property name=\"card.0\" value=\"card 0 healthy\"/>"), std::string::npos);
}

TEST_F(CardHealthTest, WhenEveryCardIsQuarantinedTheTestsFailAtOnceNamingThem) {
  EXPECT_EQ(tool({"quarantine", "0", "--reason", "fan failure"}).exit_code(), 0);
  EXPECT_EQ(tool({"quarantine", "1", "--reason", "fan failure"}).exit_code(), 0);
  const SuiteRun run = run_model("0-1", "");
  EXPECT_EQ(run.exit_code(), 101);
  EXPECT_TRUE(reports_failure(run, "direct_multicast_works",
                              "every card of the pool is quarantined (0, 1): no test can run until one is released"))
      << run.out;
  EXPECT_EQ(count(run.out, "... FAILED"), 23U);
}

TEST_F(CardHealthTest, MalformedValuesAreRefusedNamingTheVariable) {
  const SuiteRun quarantine = run_model("0-3", "", {{"ZLU_TEST_QUARANTINE", "yes"}});
  EXPECT_EQ(quarantine.exit_code(), 101);
  EXPECT_EQ(quarantine.err, "ZLU_TEST_QUARANTINE=\"yes\": expected on or off\n");
  EXPECT_EQ(quarantine.out, "") << "refused before any runner starts";

  const SuiteRun fault = run_model("0-3", "2:tile=1472:stuck-bit=5");
  EXPECT_EQ(fault.exit_code(), 101);
  EXPECT_NE(fault.err.find("invalid configuration: ZLU_SIM_CARD_FAULT=\"2:tile=1472:stuck-bit=5\": expected"),
            std::string::npos)
      << fault.err;

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"quarantine", "2"}, {"quarantine", "4096", "--reason", "r"}, {"quarantine", "2", "--reason", ""},
           {"release"}, {"release", "1-2"}}) {
    const SuiteRun refused = tool(args);
    EXPECT_EQ(refused.exit_code(), 2) << args[0];
    EXPECT_TRUE(refused.err.starts_with("zlu-e2e: ")) << refused.err;
  }
  EXPECT_TRUE(records().empty());
}

}  // namespace
}  // namespace hardware_e2e_tests
