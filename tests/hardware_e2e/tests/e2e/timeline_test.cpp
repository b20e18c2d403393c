// The run timeline as a trace viewer reads it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include <nlohmann/json.hpp>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using Timeline = SuiteTest;

nlohmann::json read_json(const std::filesystem::path& path) {
  std::ifstream file(path);
  return nlohmann::json::parse(file);
}

std::vector<nlohmann::json> spans_of(const nlohmann::json& trace, const std::string& category) {
  std::vector<nlohmann::json> spans;
  for (const auto& event : trace.at("traceEvents")) {
    if (event.at("ph") == "X" && event.at("cat") == category) spans.push_back(event);
  }
  return spans;
}

// No two spans of one track overlap; a microsecond of rounding is allowed.
void expect_no_overlap_per_track(const std::vector<nlohmann::json>& spans) {
  std::map<int, std::vector<std::pair<double, double>>> tracks;
  for (const auto& span : spans) {
    const double start = span.at("ts");
    tracks[span.at("tid")].emplace_back(start, start + span.at("dur").get<double>());
  }
  for (auto& [track, intervals] : tracks) {
    std::sort(intervals.begin(), intervals.end());
    for (std::size_t i = 1; i < intervals.size(); ++i) {
      EXPECT_LE(intervals[i - 1].second, intervals[i].first + 1.0) << "track " << track;
    }
  }
}

TEST_F(Timeline, HasOneRunnerSpanPerRunnerNoOverlapOnACardAndTheResults) {
  const auto trace_path = dir() / "run.trace.json";
  const auto run = run_suite({"--test-threads", "4"}, {{"ZLU_TEST_CARDS", "0-1"},
                                                      {"ZLU_TEST_TIMELINE", trace_path.string()},
                                                      {"ZLU_STANDIN_SLEEP_MS", "10"},
                                                      {"ZLU_STANDIN_WHEN", "ZLU_GRAPH_TEST=fanout"},
                                                      {"ZLU_STANDIN_EXIT", "3"}});
  EXPECT_EQ(run.exit_code(), 101) << run.out;
  const auto trace = read_json(trace_path);

  const auto runners = spans_of(trace, "runner");
  ASSERT_EQ(runners.size(), records().size());
  std::multiset<std::string> runner_tests;
  for (const auto& span : runners) {
    runner_tests.insert(span.at("name").get<std::string>());
    EXPECT_TRUE(span.at("tid") == 0 || span.at("tid") == 1) << span;
  }
  // One span per test, and the three seeds or cases of the two looping tests.
  EXPECT_EQ(runner_tests.count("direct_multicast_works"), 1u);
  EXPECT_EQ(runner_tests.count("randomized_static_d2d_graphs_work"), 3u);
  expect_no_overlap_per_track(runners);

  const auto runs = spans_of(trace, "run");
  ASSERT_EQ(runs.size(), 23u);
  std::set<std::string> run_tests;
  for (const auto& span : runs) {
    const std::string name = span.at("name");
    run_tests.insert(name);
    EXPECT_EQ(span.at("args").at("result"), name == "direct_multicast_works" ? "failed" : "passed") << name;
    EXPECT_LT(span.at("tid").get<int>(), 4) << "four workers, four tracks";
  }
  EXPECT_EQ(run_tests.size(), 23u);
  EXPECT_EQ(spans_of(trace, "wait").size(), 23u);
  for (const auto& span : runners) {
    if (span.at("name") == "direct_multicast_works") {
      EXPECT_EQ(span.at("args").at("result"), "exit status: 3");
    }
  }
}

TEST_F(Timeline, TheSpansOfARetriedTestNameTheirTryAndOthersStayAsTheyWere) {
  const auto trace_path = dir() / "run.trace.json";
  const auto run = run_suite({"--test-threads", "1", "--exact", "direct_multicast_works", "all_tile_reduction_works"},
                             {{"ZLU_TEST_TIMELINE", trace_path.string()},
                              {"ZLU_TEST_RETRIES", "2"},
                              {"ZLU_STANDIN_WHEN", "ZLU_GRAPH_TEST=fanout"},
                              {"ZLU_STANDIN_FAIL_FIRST", "1"},
                              {"ZLU_STANDIN_STARTS", (dir() / "starts").string()},
                              {"ZLU_STANDIN_EXIT", "1"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto trace = read_json(trace_path);
  // Category, name, the try in args (none: no "try" at all), result.
  using Expected = std::tuple<std::string, std::string, std::optional<int>, std::string>;
  const std::multiset<Expected> expected = {
      {"run", "direct_multicast_works (try 1)", 1, "failed"},
      {"run", "direct_multicast_works (try 2)", 2, "passed"},
      {"runner", "direct_multicast_works (try 1)", 1, "exit status: 1"},
      {"runner", "direct_multicast_works (try 2)", 2, "exit status: 0"},
      {"wait", "wait for a card: direct_multicast_works (try 1)", 1, ""},
      {"wait", "wait for a card: direct_multicast_works (try 2)", 2, ""},
      {"run", "all_tile_reduction_works", std::nullopt, "passed"},
      {"runner", "all_tile_reduction_works", std::nullopt, "exit status: 0"},
      {"wait", "wait for a card: all_tile_reduction_works", std::nullopt, ""}};
  std::multiset<Expected> found;
  for (const std::string category : {"run", "runner", "wait"}) {
    for (const auto& span : spans_of(trace, category)) {
      const auto& args = span.at("args");
      found.emplace(category, span.at("name"), args.contains("try") ? std::optional<int>(args.at("try")) : std::nullopt,
                    args.value("result", ""));
    }
  }
  EXPECT_EQ(found, expected) << trace.dump(1);
}

TEST_F(Timeline, ABadPathIsReportedOnceAndDoesNotFailTheRun) {
  const auto path = dir() / "missing" / "run.trace.json";
  const auto run = run_suite({"--exact", "all_tile_reduction_works"}, {{"ZLU_TEST_TIMELINE", path.string()}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  EXPECT_EQ(run.err.find("ZLU_TEST_TIMELINE: the timeline was not written: "), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_FALSE(std::filesystem::exists(path.parent_path()));
}

}  // namespace
}  // namespace hardware_e2e_tests
