// The cycle gate end to end: the suite against the card model's runners,
// blessed, slowed down by the model's slow-exchange fault, blessed again, and
// the profile paths and a corrupt baseline against the stand-in runners.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "suite_process.hpp"
#include "zlu-history/src/queries.hpp"
#include "zlu-history/src/store.hpp"

namespace hardware_e2e_tests {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The tests that start the graph runner, which the fault below slows down.
const std::set<std::string> GRAPH_RUNNER_TESTS = {
    "all_tile_permutation_works", "all_tile_reduction_works", "compiler_segmented_allocation_executes_on_hardware",
    "direct_multicast_works",     "multicast_receiver_can_send_in_same_phase",
    "sparse_compute_to_dense_exchange_works"};
const std::string SLOW_GRAPH_EXCHANGE = "zlu-hardware-e2e:slow-exchange=10";

json read_json(const fs::path& path) {
  std::ifstream in(path);
  return json::parse(in);
}

// The JSON report's test events that ended a test, by test name.
std::map<std::string, json> results_of(const SuiteRun& run) {
  std::map<std::string, json> results;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("{")) continue;
    json event = json::parse(line);
    if (event["type"] != "test" || event["event"] == "started") continue;
    const std::string name = event["name"];
    results[name] = std::move(event);
  }
  return results;
}

class CycleGateRun : public SuiteTest {
 protected:
  // The suite built for the model's runners, the whole table in parallel,
  // with the JSON report.
  SuiteRun run_model(ChildEnvironment environment) {
    environment.try_emplace("TMPDIR", dir().string());
    environment.try_emplace("ZLU_TEST_LOCK_DIR", lock_dir().string());
    environment.try_emplace("ZLU_TEST_BOOTSTRAP", "1");
    return run_program(MODEL_SUITE, {"-Zunstable-options", "--format", "json"}, environment, dir());
  }
  fs::path baseline() const { return dir() / "cycles.json"; }
  fs::path history() const { return dir() / "history.db"; }
};

TEST_F(CycleGateRun, ASlowerExchangeFailsExactlyTheTestsItSlowsUntilItIsBlessed) {
  const auto blessed = run_model({{"ZLU_TEST_CYCLE_BLESS", baseline().string()}});
  ASSERT_EQ(blessed.exit_code(), 0) << blessed.out << blessed.err;
  const json before = read_json(baseline())["tests"];
  ASSERT_EQ(before.size(), 23u) << before.dump();
  EXPECT_EQ(before["direct_multicast_works"]["provenance"]["card"], "card model");

  const auto unchanged = run_model({{"ZLU_TEST_CYCLE_BASELINE", baseline().string()}});
  EXPECT_EQ(unchanged.exit_code(), 0) << unchanged.out;

  // What the slowed runs count, blessed into a file of their own.
  const fs::path slowed_file = dir() / "slowed.json";
  const auto slowed_bless =
      run_model({{"ZLU_TEST_CYCLE_BLESS", slowed_file.string()}, {"ZLU_SIM_FAULT", SLOW_GRAPH_EXCHANGE}});
  ASSERT_EQ(slowed_bless.exit_code(), 0) << slowed_bless.out;
  const json slowed = read_json(slowed_file)["tests"];

  const auto gated =
      run_model({{"ZLU_TEST_CYCLE_BASELINE", baseline().string()}, {"ZLU_SIM_FAULT", SLOW_GRAPH_EXCHANGE},
                 {"ZLU_TEST_HISTORY", history().string()}});
  EXPECT_EQ(gated.exit_code(), 101);
  // The history records a regression as the failure it is, with its changes.
  auto db = zlu_history::open_store({zlu_history::StoreLocation::Kind::SqliteFile, history().string()},
                                    zlu_history::Purpose::Read);
  ASSERT_TRUE(db.has_value()) << db.error();
  const auto runs = zlu_history::latest_runs(**db, 1);
  ASSERT_TRUE(runs.has_value() && runs->size() == 1u);
  const auto recorded = zlu_history::attempts_of_run(**db, runs->front().run_id);
  ASSERT_TRUE(recorded.has_value());
  ASSERT_EQ(recorded->size(), 23u);
  for (const auto& attempt : *recorded) {
    const bool regressed = GRAPH_RUNNER_TESTS.contains(attempt.test);
    EXPECT_EQ(attempt.outcome, regressed ? "failed" : "passed") << attempt.test;
    EXPECT_EQ(attempt.message.find("exchange cycles") != std::string::npos, regressed) << attempt.message;
  }
  const auto results = results_of(gated);
  ASSERT_EQ(results.size(), 23u) << gated.out;
  for (const auto& [name, event] : results) {
    SCOPED_TRACE(name);
    if (!GRAPH_RUNNER_TESTS.contains(name)) {
      EXPECT_EQ(event["event"], "ok");
      continue;
    }
    ASSERT_EQ(event["event"], "failed");
    EXPECT_EQ(event["reason"], "cycle regression");
    // Only exchange steps are slower: compute and synchronisation stay.
    const json& old_cycles = before[name]["cycles"];
    const json& new_cycles = slowed[name]["cycles"];
    EXPECT_EQ(old_cycles["compute"], new_cycles["compute"]);
    EXPECT_EQ(old_cycles["synchronization"], new_cycles["synchronization"]);
    const std::uint64_t old_exchange = old_cycles["exchange"];
    const std::uint64_t new_exchange = new_cycles["exchange"];
    EXPECT_GE(new_exchange * 10, old_exchange * 11);
    const std::string exchange_line =
        fmt::format("exchange cycles {} -> {} (+{:.1f}%, allowed +0%)", old_exchange, new_exchange,
                    100.0 * static_cast<double>(new_exchange - old_exchange) / static_cast<double>(old_exchange));
    const std::string message = event["message"];
    EXPECT_TRUE(message.starts_with(exchange_line)) << message;
    // Every line names a quantity that grew, and every one that grew is named.
    for (const char* quantity : {"idle", "span"}) {
      const std::uint64_t old_count = quantity == std::string("span") ? before[name]["span"] : old_cycles[quantity];
      const std::uint64_t new_count = quantity == std::string("span") ? slowed[name]["span"] : new_cycles[quantity];
      const bool named = message.find(fmt::format("\n{} cycles {} -> {} (", quantity, old_count, new_count)) !=
                         std::string::npos;
      EXPECT_EQ(named, new_count > old_count) << quantity << ": " << message;
    }
  }

  // Blessing the slower exchange, the same run passes, and only the slowed
  // tests' entries changed.
  const auto accepted =
      run_model({{"ZLU_TEST_CYCLE_BLESS", baseline().string()}, {"ZLU_SIM_FAULT", SLOW_GRAPH_EXCHANGE}});
  ASSERT_EQ(accepted.exit_code(), 0) << accepted.out;
  const json after = read_json(baseline())["tests"];
  for (const auto& [name, entry] : after.items()) EXPECT_EQ(entry == before[name], !GRAPH_RUNNER_TESTS.contains(name)) << name;
  const auto regated =
      run_model({{"ZLU_TEST_CYCLE_BASELINE", baseline().string()}, {"ZLU_SIM_FAULT", SLOW_GRAPH_EXCHANGE}});
  EXPECT_EQ(regated.exit_code(), 0) << regated.out;
}

TEST_F(CycleGateRun, AFasterRunIsReportedAsAnImprovementAndATestWithoutEntryAsSuch) {
  const auto blessed =
      run_model({{"ZLU_TEST_CYCLE_BLESS", baseline().string()}, {"ZLU_SIM_FAULT", SLOW_GRAPH_EXCHANGE}});
  ASSERT_EQ(blessed.exit_code(), 0) << blessed.out;
  json document = read_json(baseline());
  document["tests"].erase("local_h2d_and_d2h_round_trip_works");
  std::ofstream(baseline()) << document.dump(2);

  const auto run = run_model({{"ZLU_TEST_CYCLE_BASELINE", baseline().string()}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  for (const auto& [name, event] : results_of(run)) {
    SCOPED_TRACE(name);
    EXPECT_EQ(event["event"], "ok");
    const std::string expected = GRAPH_RUNNER_TESTS.contains(name)              ? "improved"
                                 : name == "local_h2d_and_d2h_round_trip_works" ? "no entry"
                                                                                 : "unchanged";
    EXPECT_EQ(event["cycles"], expected) << event.dump();
    if (expected == "improved") {
      const std::string changes = event["cycle_changes"];
      EXPECT_TRUE(changes.starts_with("exchange cycles ")) << changes;
      EXPECT_NE(changes.find("%)"), std::string::npos) << changes;
    }
  }
  // The console names each improvement on a line of its own.
  const auto pretty = run_program(MODEL_SUITE, {"direct_multicast_works", "--exact"},
                                  {{"ZLU_TEST_CYCLE_BASELINE", baseline().string()},
                                   {"ZLU_TEST_LOCK_DIR", lock_dir().string()},
                                   {"TMPDIR", dir().string()}},
                                  dir());
  EXPECT_EQ(pretty.exit_code(), 0) << pretty.out;
  EXPECT_NE(pretty.out.find("test direct_multicast_works ... ok\n    cycles improved: exchange cycles "),
            std::string::npos)
      << pretty.out;
}

TEST_F(CycleGateRun, EachRunnerStartGetsAPathOfItsOwnInAPrivateFolderThatGoesWithTheRun) {
  const auto run = run_one("randomized_static_d2d_graphs_work", {{"ZLU_TEST_CYCLES", "on"}});
  // The stand-ins write no profile: noted, not failed.
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  const auto started = records();
  ASSERT_GE(started.size(), 2u);
  std::set<std::string> paths;
  for (const RunnerRecord& record : started) {
    const auto path = record.env("ZLU_PROFILE_OUTPUT");
    ASSERT_TRUE(path.has_value());
    paths.insert(*path);
    const fs::path folder = fs::path(*path).parent_path();
    EXPECT_EQ(folder.parent_path(), dir());
    EXPECT_TRUE(folder.filename().string().starts_with("zlu-cycles-")) << *path;
    EXPECT_FALSE(fs::exists(folder)) << "the folder goes with the run";
  }
  EXPECT_EQ(paths.size(), started.size()) << "every start has a path of its own";
}

TEST_F(CycleGateRun, ACorruptBaselineOrSettingStopsTheRunBeforeAnyRunnerNamingTheFault) {
  std::ofstream(baseline()) << "{\"format\": 1, \"tests\": {\"t\": {\"cycles\": []}}}";
  const auto corrupt = run_suite({}, {{"ZLU_TEST_CYCLE_BASELINE", baseline().string()}});
  EXPECT_EQ(corrupt.exit_code(), 101);
  EXPECT_EQ(corrupt.err, "error: cycle baseline " + baseline().string() +
                             ": test \"t\": cycles is missing or not an object\n");
  EXPECT_TRUE(records().empty());

  const auto missing = run_suite({}, {{"ZLU_TEST_CYCLE_BASELINE", (dir() / "absent.json").string()}});
  EXPECT_EQ(missing.exit_code(), 101);
  EXPECT_EQ(missing.err, "error: cycle baseline " + (dir() / "absent.json").string() +
                             ": No such file or directory (os error 2)\n");
  const std::vector<std::pair<ChildEnvironment, std::string>> malformed = {
      {{{"ZLU_TEST_CYCLES", "yes"}}, "ZLU_TEST_CYCLES is `yes`, should be `on`, `off` or unset."},
      {{{"ZLU_TEST_CYCLE_BLESS", ""}}, "ZLU_TEST_CYCLE_BLESS is ``, should be the path of a JSON file."},
      {{{"ZLU_TEST_CYCLE_TOLERANCE", "1"}},
       "ZLU_TEST_CYCLE_TOLERANCE is `1`, but ZLU_TEST_CYCLE_BASELINE is unset: a tolerance needs a baseline to apply to."},
      {{{"ZLU_TEST_CYCLE_BASELINE", baseline().string()}, {"ZLU_TEST_CYCLE_TOLERANCE", "exchange=1.00001"}},
       "ZLU_TEST_CYCLE_TOLERANCE is `exchange=1.00001`, should be a percentage from 0 to 1000 with at most 4 "
       "decimals in `exchange=1.00001`."},
  };
  for (const auto& [environment, message] : malformed) {
    const auto refused = run_suite({}, environment);
    EXPECT_EQ(refused.exit_code(), 101);
    EXPECT_EQ(refused.err, "error: " + message + "\n");
  }
  EXPECT_TRUE(records().empty());
}

}  // namespace
}  // namespace hardware_e2e_tests
