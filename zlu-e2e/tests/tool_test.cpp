// zlu-e2e as a user runs it: a history written through the store, read back
// by the tool as a process; usage and store errors end with status 2.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "scratch_store.hpp"
#include "tool.hpp"
#include "zlu-history/src/store.hpp"

extern char** environ;

namespace zlu_e2e {
namespace {

using namespace zlu_history;
using zlu_history_tests::ScratchFolder;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class Tool : public testing::Test {
 protected:
  // Runs the tool with `args`, ZLU_TEST_HISTORY unset unless `history` is given.
  ToolRun run(std::vector<std::string> args, std::optional<std::string> history = std::nullopt) {
    args.insert(args.begin(), ZLU_E2E);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (!std::string_view(*entry).starts_with("ZLU_TEST_HISTORY=")) variables.emplace_back(*entry);
    }
    if (history) variables.push_back("ZLU_TEST_HISTORY=" + *history);
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    const auto out = scratch_.path() / "out";
    const auto err = scratch_.path() / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ToolRun result;
    if (posix_spawn(&pid, ZLU_E2E, &actions, nullptr, argv.data(), envp.data()) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
  }

  // A history of two runs of one build: the first killed after a flaky test
  // (failed on card 1, passed on card 0) and a failure whose message needs
  // quoting in CSV; the second finished with a pass.
  std::string recorded_history() {
    const std::string path = (scratch_.path() / "history.db").string();
    auto db = open_store({StoreLocation::Kind::SqliteFile, path}, Purpose::Record);
    auto first = RunWriter::begin(std::move(*db), RunRecord{.run_id = "1111aaaa", .started = 1'000, .host = "h1",
                                                            .build_id = "gnu:b1", .arguments = {}, .partition = "",
                                                            .cards = "0-1", .retries = 1, .task = "slurm:7_2",
                                                            .planned = {"flaky", "broken", "never"}});
    const auto attempt = [](std::string_view test, std::int64_t try_number, Outcome outcome, std::int64_t card,
                            std::string_view message) {
      return AttemptRecord{.test = test, .try_number = try_number, .card = card, .started = 1'000 + try_number,
                           .duration = 2'500'000, .card_wait = 0, .outcome = outcome, .message = message,
                           .measurements = R"({"card":{"card":1,"wait_us":0}})"};
    };
    EXPECT_TRUE(first->record(attempt("flaky", 1, Outcome::Failed, 1, "exit status: 1")).has_value());
    EXPECT_TRUE(first->record(attempt("flaky", 2, Outcome::Passed, 0, "")).has_value());
    EXPECT_TRUE(first->record(attempt("broken", 1, Outcome::Failed, 1, "expected \"a, b\"\nfound c")).has_value());
    EXPECT_TRUE(first->record(attempt("broken", 2, Outcome::Failed, 1, "expected \"a, b\"\nfound c")).has_value());
    auto second = RunWriter::begin(std::move(*open_store({StoreLocation::Kind::SqliteFile, path}, Purpose::Record)),
                                   RunRecord{.run_id = "2222bbbb", .started = 5'000, .host = "h1",
                                             .build_id = "gnu:b1", .arguments = {}, .partition = "", .cards = "",
                                             .retries = 0, .task = "", .planned = {"flaky"}});
    EXPECT_TRUE(second->record(attempt("flaky", 1, Outcome::Passed, 0, "")).has_value());
    EXPECT_TRUE(second->finish(6'000, 0).has_value());
    return path;
  }

  ScratchFolder scratch_;
};

TEST_F(Tool, UsageAndStoreErrorsEndWithStatusTwoAndSayWhatWasWrong) {
  const std::string missing = (scratch_.path() / "missing.db").string();
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> history;
    std::string message_part;
  };
  const std::vector<Case> cases = {
      {{}, missing, "no command given"},
      {{"bogus"}, missing, "unknown command bogus"},
      {{"--frobnicate", "runs"}, missing, "unknown option --frobnicate"},
      {{"runs", "--history"}, std::nullopt, "--history needs a value"},
      {{"show"}, missing, "show takes one RUN"},
      {{"runs", "--limit", "0"}, missing, "--limit N"},
      {{"runs", "--limit", "x"}, missing, "--limit N"},
      {{"flaky", "--since", "3x"}, missing, "WHEN \"3x\""},
      {{"cards", "--since", "2026-02-30"}, missing, "WHEN \"2026-02-30\""},
      {{"export", "--xml"}, missing, "not --xml"},
      {{"cycles"}, missing, "cycles takes a TEST"},
      {{"cycles", "--limit", "2"}, missing, "cycles takes a TEST"},
      {{"cycles", "t", "--limit", "0"}, missing, "cycles TEST takes only --limit N"},
      {{"cycles", "t", "--limit"}, missing, "cycles TEST takes only --limit N"},
      {{"cycles", "t", "extra"}, missing, "cycles TEST takes only --limit N"},
      {{"runs"}, std::nullopt, "no history: give --history or set ZLU_TEST_HISTORY"},
      {{"runs"}, "", "ZLU_TEST_HISTORY=\"\""},
      {{"runs", "--history", "mysql://db"}, std::nullopt, "--history=mysql://db: a URL of scheme \"mysql\""},
      {{"runs"}, missing, "history " + missing + ": unable to open"},
      {{"record-missing"}, missing, "record-missing takes TASK"},
      {{"record-missing", "--host", "h"}, missing, "record-missing takes TASK"},
      {{"record-missing", "slurm:9_2", "--host"}, missing, "record-missing takes TASK"},
      {{"record-missing", "slurm:9_2", "--build", "b"}, missing, "record-missing takes TASK"},
      {{"record-missing", "slurm:9_2", "--host", "a\tb"}, missing, "\"a\\tb\" is not one line"},
      {{"record-missing", "slurm:9_2", "--", "a\nb"}, missing, "test \"a\\nb\" is not a test name"},
      {{"record-missing", "slurm:9_2", "--", ""}, missing, "test \"\" is not a test name"},
      {{"record-missing", "slurm:9_2"}, std::nullopt, "no history: give --history or set ZLU_TEST_HISTORY"},
  };
  for (const auto& c : cases) {
    const auto result = run(c.args, c.history);
    EXPECT_EQ(result.status, 2) << testing::PrintToString(c.args);
    EXPECT_NE(result.err.find(c.message_part), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(Tool, RunsShowAndFailuresTellWhatTheRecordedRunsDid) {
  const auto history = recorded_history();
  const auto runs = run({"runs", "--json"}, history);
  ASSERT_EQ(runs.status, 0) << runs.err;
  const auto list = nlohmann::json::parse(runs.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["run_id"], "2222bbbb");
  EXPECT_EQ(list[1]["ended_us"], nullptr);
  EXPECT_EQ(list[1]["passed"], 1);
  EXPECT_EQ(list[1]["failed"], 1);
  EXPECT_EQ(list[1]["flaky"], 1);
  EXPECT_EQ(list[1]["not_finished"], 1);
  EXPECT_EQ(list[1]["task"], "slurm:7_2");
  EXPECT_NE(run({"runs"}, history).out.find("unfinished"), std::string::npos);

  const auto shown = run({"--history", history, "show", "1111"});
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("run 1111aaaa on h1, build gnu:b1"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("broken  try 2  card 1  2500 ms  expected \"a, b\"\n"), std::string::npos) << shown.out;
  EXPECT_EQ(run({"show", "3333"}, history).status, 2);

  // The latest run passed its one test: nothing to run again.
  const auto failures = run({"failures", "--json"}, history);
  ASSERT_EQ(failures.status, 0) << failures.err;
  EXPECT_EQ(nlohmann::json::parse(failures.out)["tests"].size(), 0u);
}

TEST_F(Tool, FlakyCardsAndExportCountEveryAttempt) {
  const auto history = recorded_history();
  const auto flaky = run({"flaky", "--json"}, history);
  ASSERT_EQ(flaky.status, 0) << flaky.err;
  const auto tests = nlohmann::json::parse(flaky.out);
  ASSERT_EQ(tests.size(), 1u);
  EXPECT_EQ(tests[0]["test"], "flaky");
  EXPECT_EQ(tests[0]["attempts"], 3);
  EXPECT_EQ(tests[0]["failures"], 1);
  // Nothing started within the last minute of a history from 1970.
  EXPECT_NE(run({"flaky", "--since", "1m"}, history).out.find("no flaky test"), std::string::npos);

  const auto cards = nlohmann::json::parse(run({"cards", "--json"}, history).out);
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[1]["card"], 1);
  EXPECT_EQ(cards[1]["failures"], 3);
  EXPECT_EQ(cards[1]["attempts"], 3);
  EXPECT_EQ(cards[1]["other_attempts"], 2);
  EXPECT_EQ(cards[1]["other_failures"], 0);

  const auto csv = run({"export", "--csv"}, history);
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_TRUE(csv.out.starts_with("run_id,build_id,test,try,card,host,started_us,"));
  EXPECT_NE(csv.out.find(",\"expected \"\"a, b\"\"\nfound c\","), std::string::npos) << csv.out;
  const auto jsonl = run({"export"}, history);
  std::istringstream lines(jsonl.out);
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const auto attempt = nlohmann::json::parse(line);
    EXPECT_EQ(attempt["measurements"]["card"]["card"], 1);
  }
  EXPECT_EQ(count, 5u);
}

TEST_F(Tool, RecordMissingWritesATaskThatNeverRecordedOnceAndLeavesOneThatDid) {
  const std::string history = recorded_history();
  struct Case {
    std::string task;
    std::string said;
    std::size_t runs_after;
  };
  // slurm:7_2 recorded its own run before it died; slurm:7_3 never did.
  const std::vector<Case> cases = {
      {"slurm:7_2", "task slurm:7_2: already in the history\n", 2},
      {"slurm:7_3", "task slurm:7_3: recorded as unfinished, 2 tests never ended\n", 3},
      {"slurm:7_3", "task slurm:7_3: already in the history\n", 3},
  };
  for (const auto& c : cases) {
    const auto recorded = run({"record-missing", c.task, "--partition", "count:3/3", "--host", "node3", "--cards", "2",
                               "--", "never", "broken"},
                              history);
    EXPECT_EQ(recorded.status, 0) << recorded.err;
    EXPECT_EQ(recorded.out, c.said);
    const auto runs = nlohmann::json::parse(run({"--json", "runs"}, history).out);
    EXPECT_EQ(runs.size(), c.runs_after) << c.task;
  }
  const auto latest = nlohmann::json::parse(run({"--json", "runs", "--limit", "1"}, history).out).at(0);
  EXPECT_EQ(latest.at("task"), "slurm:7_3");
  EXPECT_EQ(latest.at("host"), "node3");
  EXPECT_EQ(latest.at("partition"), "count:3/3");
  EXPECT_EQ(latest.at("attempts"), 0);
  EXPECT_EQ(latest.at("not_finished"), 2);
  EXPECT_TRUE(latest.at("ended_us").is_null());
  const std::string failures = run({"failures"}, history).out;
  EXPECT_EQ(failures.substr(failures.find('\n') + 1), "never ended  never\nnever ended  broken\n");
}

TEST_F(Tool, CyclesReadsEachStoredSummaryAndNamesTheTryWhoseSummaryIsMalformed) {
  struct Case {
    std::string measurements;
    bool read;
  };
  const std::vector<Case> cases = {
      {R"({"cycles":{"by_kind":[4,3,2,1],"span":5}})", true},
      {R"({"card":{"card":0},"cycles":{"by_kind":[0,0,0,0],"span":0,"busiest_tile":3}})", true},
      {R"({"cycles":{"by_kind":[4,3,2],"span":5}})", false},
      {R"({"cycles":{"by_kind":[4,3,2,1,0],"span":5}})", false},
      {R"({"cycles":{"by_kind":[4,3,2,-1],"span":5}})", false},
      {R"({"cycles":{"by_kind":[4,3,2,"1"],"span":5}})", false},
      {R"({"cycles":{"by_kind":[4,3,2,1]}})", false},
      {R"({"cycles":{"by_kind":[4,3,2,1],"span":-5}})", false},
      {R"({"cycles":[4,3,2,1]})", false},
      {R"({"cycles":)", false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string path = (scratch_.path() / fmt::format("cycles-{}.db", i)).string();
    auto writer = RunWriter::begin(std::move(*open_store({StoreLocation::Kind::SqliteFile, path}, Purpose::Record)),
                                   RunRecord{.run_id = "3333cccc", .started = 1'000, .host = "h1", .build_id = "b",
                                             .arguments = {}, .partition = "", .cards = "", .retries = 0, .task = "",
                                             .planned = {"t"}});
    ASSERT_TRUE(writer->record(AttemptRecord{.test = "t", .try_number = 1, .card = std::nullopt, .started = 1'000,
                                             .duration = 1, .card_wait = std::nullopt, .outcome = Outcome::Passed,
                                             .message = "", .measurements = cases[i].measurements}).has_value());
    const auto result = run({"cycles", "t", "--json"}, path);
    SCOPED_TRACE(cases[i].measurements);
    EXPECT_EQ(result.status, cases[i].read ? 0 : 2) << result.err;
    if (cases[i].read) {
      EXPECT_EQ(nlohmann::json::parse(result.out).size(), 1U);
    } else {
      EXPECT_EQ(result.err, "zlu-e2e: history " + path + ": run 3333cccc try 1 of t: its cycle summary is malformed\n");
    }
  }
}

TEST(When, ReadsSpansBackFromNowAndUtcDates) {
  constexpr Micros NOW = 10LL * 24 * 3600 * 1'000'000;
  struct Case {
    std::string when;
    std::optional<Micros> expected;  // nullopt: refused
  };
  const std::vector<Case> cases = {
      {"7d", 3LL * 24 * 3600 * 1'000'000},
      {"10d", 0},
      {"11d", 0},  // before the epoch: everything
      {"0m", NOW},
      {"90m", NOW - 90LL * 60 * 1'000'000},
      {"1970-01-02", 24LL * 3600 * 1'000'000},
      {"2024-02-29", 1'709'164'800'000'000},
      {"2023-02-29", std::nullopt},
      {"2024-13-01", std::nullopt},
      {"2024-1-011", std::nullopt},
      {"d", std::nullopt},
      {"-1d", std::nullopt},
      {"1w", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_when(c.when, NOW);
    if (c.expected) {
      ASSERT_TRUE(parsed.has_value()) << c.when << ": " << parsed.error();
      EXPECT_EQ(*parsed, *c.expected) << c.when;
    } else {
      EXPECT_FALSE(parsed.has_value()) << c.when;
    }
  }
}

}  // namespace
}  // namespace zlu_e2e
