// The cycle gate: its settings, the baseline file, the comparison at the
// tolerance's limit, blessing, and a regression as the run loop sees it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "cycles/cycle_gate.hpp"
#include "run/execute.hpp"
#include "run/outcome.hpp"

namespace harness {
namespace {

constexpr PartsPerMillion PERCENT = 10'000;
// 2026-12-09T05:00:00Z.
const WallClock::time_point BLESSED_AT{std::chrono::seconds(1'796'792'400)};

TEST(CycleTolerance, AcceptsPercentagesUpToTheLimitForAllQuantitiesOrOne) {
  using Allowed = std::array<PartsPerMillion, 5>;
  const std::vector<std::pair<std::string, Allowed>> accepted = {
      {"0", {0, 0, 0, 0, 0}},
      {"0.0001", {1, 1, 1, 1, 1}},
      {"2.5", {25'000, 25'000, 25'000, 25'000, 25'000}},
      {"1000", {MAX_TOLERANCE, MAX_TOLERANCE, MAX_TOLERANCE, MAX_TOLERANCE, MAX_TOLERANCE}},
      {"exchange=10", {10 * PERCENT, 0, 0, 0, 0}},
      {"span=0.5,idle=3", {0, 0, 0, 3 * PERCENT, PERCENT / 2}},
      // Later items win over earlier ones.
      {"5,compute=0", {5 * PERCENT, 0, 5 * PERCENT, 5 * PERCENT, 5 * PERCENT}},
      {"synchronization=1,2", {2 * PERCENT, 2 * PERCENT, 2 * PERCENT, 2 * PERCENT, 2 * PERCENT}},
  };
  for (const auto& [text, allowed] : accepted) {
    const auto tolerance = parse_cycle_tolerance(text);
    ASSERT_TRUE(tolerance.has_value()) << text << ": " << tolerance.error();
    EXPECT_EQ(tolerance->allowed, allowed) << text;
  }
  for (const char* refused : {"", "1000.0001", "1001", "0.00001", "2.", ".5", "-1", "1%", "1,", ",1", "bogus=1",
                              "exchange=", "exchange", "Exchange=1", "1 ", "0x10", "exchange=1=2"}) {
    EXPECT_FALSE(parse_cycle_tolerance(refused).has_value()) << refused;
  }
}

CycleSummary summary_of(CycleQuantities quantities) {
  return {.cycles_by_kind = {quantities[0], quantities[1], quantities[2], quantities[3]},
          .span = quantities[4],
          .card = "card model"};
}

TEST(JudgeCycles, GrowthPastTheToleranceRegressesAndAnyDropImproves) {
  const BaselineEntry entry{{1000, 500, 0, 200, 1000}, {"b", "card model", "t"}};
  CycleTolerance ten_percent;
  ten_percent.allowed.fill(10 * PERCENT);
  struct Case {
    const char* what;
    CycleQuantities now;
    CycleTolerance tolerance;
    CycleVerdict verdict;
    std::vector<std::size_t> changed;
  };
  const std::vector<Case> cases = {
      {"same", {1000, 500, 0, 200, 1000}, {}, CycleVerdict::Unchanged, {}},
      {"one cycle over, exact", {1001, 500, 0, 200, 1000}, {}, CycleVerdict::Regressed, {0}},
      {"at 10%", {1100, 550, 0, 220, 1100}, ten_percent, CycleVerdict::Unchanged, {}},
      {"one past 10%", {1101, 550, 0, 221, 1100}, ten_percent, CycleVerdict::Regressed, {0, 3}},
      {"a kind from zero", {1000, 500, 1, 200, 1000}, ten_percent, CycleVerdict::Regressed, {2}},
      {"one cycle under", {1000, 499, 0, 200, 1000}, {}, CycleVerdict::Improved, {1}},
      {"within tolerance and under", {1050, 400, 0, 200, 1000}, ten_percent, CycleVerdict::Improved, {1}},
      {"over wins over under", {900, 501, 0, 100, 1000}, {}, CycleVerdict::Regressed, {1}},
  };
  for (const Case& c : cases) {
    const CycleSummary summary = summary_of(c.now);
    const CycleJudgement judgement = judge_cycles(&entry, &summary, c.tolerance);
    EXPECT_EQ(judgement.verdict, c.verdict) << c.what;
    std::vector<std::size_t> changed;
    for (const CycleChange& change : judgement.changes) changed.push_back(change.quantity);
    EXPECT_EQ(changed, c.changed) << c.what;
  }
  const CycleSummary summary = summary_of({1, 1, 1, 1, 1});
  EXPECT_EQ(judge_cycles(nullptr, &summary, {}).verdict, CycleVerdict::NoEntry);
  EXPECT_EQ(judge_cycles(&entry, nullptr, {}).verdict, CycleVerdict::NoProfile);

  // Counts near the top of 64 bits are compared without overflow.
  const std::uint64_t top = UINT64_MAX / 2;
  const BaselineEntry huge{{top, 0, 0, 0, 0}, {}};
  const CycleSummary doubled = summary_of({2 * top, 0, 0, 0, 0});
  const CycleSummary one_more = summary_of({2 * top + 1, 0, 0, 0, 0});
  CycleTolerance hundred;
  hundred.allowed.fill(100 * PERCENT);
  EXPECT_EQ(judge_cycles(&huge, &doubled, hundred).verdict, CycleVerdict::Unchanged);
  EXPECT_EQ(judge_cycles(&huge, &one_more, hundred).verdict, CycleVerdict::Regressed);
}

TEST(JudgeCycles, ChangesReadAsDeltasWithTheirAllowance) {
  const BaselineEntry entry{{1204332, 500, 0, 90, 1000000}, {}};
  CycleTolerance tolerance;
  tolerance.allowed[4] = 25'000;
  const CycleSummary slower = summary_of({1350901, 500, 7, 90, 1000001});
  EXPECT_EQ(render_changes(judge_cycles(&entry, &slower, {})),
            "exchange cycles 1204332 -> 1350901 (+12.2%, allowed +0%)\n"
            "synchronization cycles 0 -> 7 (new, allowed +0%)\n"
            "span cycles 1000000 -> 1000001 (+0.0001%, allowed +0%)");
  const CycleSummary faster = summary_of({1204332, 500, 0, 45, 1000000});
  EXPECT_EQ(render_changes(judge_cycles(&entry, &faster, tolerance)), "idle cycles 90 -> 45 (-50.0%)");
  const CycleSummary longer = summary_of({1204332, 500, 0, 90, 1030000});
  EXPECT_EQ(render_changes(judge_cycles(&entry, &longer, tolerance)),
            "span cycles 1000000 -> 1030000 (+3.0%, allowed +2.5%)");
}

const char* const ONE_ENTRY =
    R"({
  "format": 1,
  "tests": {
    "gemm": {
      "cycles": {
        "compute": 2,
        "exchange": 1,
        "idle": 4,
        "synchronization": 3
      },
      "provenance": {
        "blessed": "2026-12-09T05:00:00Z",
        "build": "gnu:ab",
        "card": "card model"
      },
      "span": 5
    }
  }
}
)";

TEST(Baseline, RendersSortedKeysAndReadsBackWhatItWrote) {
  const Baseline baseline{{"gemm", {{1, 2, 3, 4, 5}, {"gnu:ab", "card model", "2026-12-09T05:00:00Z"}}}};
  EXPECT_EQ(render_baseline(baseline), ONE_ENTRY);
  const auto parsed = parse_baseline(ONE_ENTRY);
  ASSERT_TRUE(parsed.has_value()) << parsed.error();
  EXPECT_EQ(*parsed, baseline);
  // Test names come out in order whatever order they went in.
  const Baseline two{{"zeta", {}}, {"alpha", {}}};
  const std::string text = render_baseline(two);
  EXPECT_LT(text.find("\"alpha\""), text.find("\"zeta\""));
}

TEST(Baseline, ACorruptDocumentIsRefusedSayingWhatAndWhere) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"format\": 1,\n \"tests\": {", "parse error at line 2, column 12"},
      {"[]", "the document is array, not an object"},
      {R"({"format": 2, "tests": {}})", "format is 2, not 1"},
      {R"({"tests": {}})", "format is missing, not 1"},
      {R"({"format": 1})", "tests is missing or not an object"},
      {R"({"format": 1, "tests": {"t": 3}})", "test \"t\" is number, not an object"},
      {R"({"format": 1, "tests": {"t": {"span": 1}}})", "test \"t\": cycles is missing or not an object"},
      {R"({"format": 1, "tests": {"t": {"cycles": {"exchange": 1, "compute": 1, "idle": 1}}}})",
       "test \"t\": cycles.synchronization is missing"},
      {R"({"format": 1, "tests": {"t": {"cycles": {"exchange": -1}}}})",
       "test \"t\": cycles.exchange is -1, not a cycle count"},
      {R"({"format": 1, "tests": {"t": {"cycles": {"exchange": 1, "compute": 1, "idle": 1, "synchronization": 1}}}})",
       "test \"t\": span is missing"},
      {R"({"format": 1, "tests": {"t": {"cycles": {"exchange": 1, "compute": 1, "idle": 1, "synchronization": 1},
          "span": 1, "provenance": {"build": "b", "blessed": "x"}}}})",
       "test \"t\": provenance.card is missing"},
  };
  for (const auto& [text, fault] : cases) {
    const auto parsed = parse_baseline(text);
    ASSERT_FALSE(parsed.has_value()) << text;
    EXPECT_NE(parsed.error().find(fault), std::string::npos) << parsed.error();
  }
}

class Scratch {
  // A folder of the test's own, removed with its contents.
 public:
  Scratch() {
    std::string pattern = ::testing::TempDir() + "cycle-gate-XXXXXX";
    path_ = mkdtemp(pattern.data());
  }
  ~Scratch() { std::filesystem::remove_all(path_); }
  std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void put(const std::string& path, std::string_view text) { std::ofstream(path) << text; }

TestDescAndFn named(std::string_view name, TestFn body) {
  TestDesc desc;
  desc.name = name;
  return {desc, body};
}

Measurements measured(CycleQuantities quantities) { return {summary_of(quantities)}; }

TEST(CycleGate, BlessKeepsEntriesOfTestsNotRunAndProvenanceOfCountsThatDidNotMove) {
  const Scratch scratch;
  const std::string file = scratch.file("baseline.json");
  const BaselineEntry old{{1, 2, 3, 4, 5}, {"old build", "card model", "2026-01-01T00:00:00Z"}};
  ASSERT_TRUE(write_baseline(file, {{"moved", old}, {"not run", old}, {"same", old}}));

  auto gate = CycleGate::open({.summaries = false, .baseline = file, .bless = file, .tolerance = {}});
  ASSERT_TRUE(gate.has_value()) << gate.error();
  gate->keep("moved", measured({1, 2, 3, 4, 6}), BLESSED_AT);
  gate->keep("same", measured({1, 2, 3, 4, 5}), BLESSED_AT);
  gate->keep("new", measured({7, 7, 7, 7, 7}), BLESSED_AT);
  gate->keep("no summary", {}, BLESSED_AT);
  ASSERT_TRUE(gate->bless());

  const auto blessed = read_baseline(file);
  ASSERT_TRUE(blessed.has_value()) << blessed.error();
  ASSERT_EQ(blessed->size(), 4u);
  EXPECT_EQ(blessed->at("not run"), old);
  EXPECT_EQ(blessed->at("same"), old);
  EXPECT_EQ(blessed->at("moved").cycles, (CycleQuantities{1, 2, 3, 4, 6}));
  EXPECT_EQ(blessed->at("moved").provenance.blessed, "2026-12-09T05:00:00Z");
  EXPECT_EQ(blessed->at("moved").provenance.card, "card model");
  EXPECT_TRUE(blessed->at("new").provenance.build.starts_with("gnu:"));
  EXPECT_EQ(blessed->count("no summary"), 0u);
}

TEST(CycleGate, BlessRefusesToOverwriteABaselineItCannotRead) {
  const Scratch scratch;
  const std::string file = scratch.file("baseline.json");
  put(file, "{ not json");
  auto gate = CycleGate::open({.summaries = false, .baseline = {}, .bless = file, .tolerance = {}});
  ASSERT_TRUE(gate.has_value());
  gate->keep("t", measured({1, 1, 1, 1, 1}), BLESSED_AT);
  const auto blessed = gate->bless();
  ASSERT_FALSE(blessed.has_value());
  EXPECT_TRUE(blessed.error().starts_with("cycle baseline " + file + ": ")) << blessed.error();
  EXPECT_EQ(contents(file), "{ not json");

  // A file not there yet is simply made.
  auto fresh = CycleGate::open({.summaries = false, .baseline = {}, .bless = scratch.file("new.json"), .tolerance = {}});
  fresh->keep("t", measured({1, 1, 1, 1, 1}), BLESSED_AT);
  ASSERT_TRUE(fresh->bless());
  EXPECT_EQ(read_baseline(scratch.file("new.json"))->size(), 1u);
}

std::atomic<unsigned> regressing_calls{0};
void attaches_more_exchange() {
  ++regressing_calls;
  attach(summary_of({1100, 500, 0, 0, 10}));
}
void attaches_less_idle() { attach(summary_of({1000, 500, 0, 0, 9})); }
void attaches_two_runners() {
  add_cycle_summary({.cycles_by_kind = {600, 200, 0, 0}, .span = 4, .busiest_tile = 3, .busiest_tile_cycles = 80, .card = "m"});
  add_cycle_summary({.cycles_by_kind = {400, 300, 0, 0}, .span = 6, .busiest_tile = 9, .busiest_tile_cycles = 90, .card = "m"});
}

TEST(CycleGate, ARegressionFailsWithItsReasonOnceAndAnImprovementPasses) {
  const Scratch scratch;
  const std::string file = scratch.file("baseline.json");
  const BaselineEntry entry{{1000, 500, 0, 0, 10}, {"b", "card model", "t"}};
  ASSERT_TRUE(write_baseline(file, {{"slower", entry}, {"faster", entry}, {"two runners", entry}}));
  auto gate = CycleGate::open({.summaries = false, .baseline = file, .bless = {}, .tolerance = {}});
  ASSERT_TRUE(gate.has_value());
  ExecuteSettings settings{.capture = true, .time_options = {}, .retries = 3, .cycle_gate = &*gate};

  const CompletedTest slower = execute_with_retries(0, named("slower", attaches_more_exchange), settings);
  EXPECT_EQ(regressing_calls.load(), 1u) << "a cycle regression is not tried again";
  EXPECT_EQ(slower.result().kind, TestResult::Kind::CycleRegression);
  const Outcome outcome = outcome_of(slower.result());
  EXPECT_EQ(outcome.reason, "cycle regression");
  EXPECT_EQ(failure_message_of(slower.last_try(), outcome), "exchange cycles 1000 -> 1100 (+10.0%, allowed +0%)");

  const CompletedTest faster = execute_test(1, named("faster", attaches_less_idle), settings);
  EXPECT_TRUE(outcome_of(faster.result()).passed());
  ASSERT_TRUE(faster.last_try().cycles.has_value());
  EXPECT_EQ(faster.last_try().cycles->verdict, CycleVerdict::Improved);

  // Two runners of one test add up to exactly the baseline.
  const CompletedTest both = execute_test(2, named("two runners", attaches_two_runners), settings);
  ASSERT_TRUE(both.last_try().cycles.has_value());
  EXPECT_EQ(both.last_try().cycles->verdict, CycleVerdict::Unchanged);
  const CycleSummary* added = cycle_summary_of(both.last_try().measurements);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->busiest_tile, 9);
  EXPECT_EQ(added->busiest_tile_cycles, 90u);
}

}  // namespace
}  // namespace harness
