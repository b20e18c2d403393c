// Card locks across processes and pools of cards, seen through the times
// the stand-in runners log.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using Cards = SuiteTest;

std::uint64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

// The most runners alive at one moment.
std::size_t most_at_once(const std::vector<RunnerRecord>& records) {
  std::vector<std::pair<std::uint64_t, int>> edges;
  for (const auto& record : records) {
    edges.emplace_back(record.start_ns, +1);
    edges.emplace_back(record.end_ns, -1);
  }
  // An end and a start at the same instant do not overlap.
  std::sort(edges.begin(), edges.end());
  int alive = 0;
  int most = 0;
  for (const auto& [at, change] : edges) most = std::max(most, alive += change);
  return static_cast<std::size_t>(most);
}

// Runners grouped by the ZLU_CARD_ID they were given ("" when none).
std::map<std::string, std::vector<RunnerRecord>> by_card(const std::vector<RunnerRecord>& records) {
  std::map<std::string, std::vector<RunnerRecord>> cards;
  for (const auto& record : records) cards[record.env("ZLU_CARD_ID").value_or("")].push_back(record);
  return cards;
}

void expect_one_runner_per_card(const std::vector<RunnerRecord>& records) {
  for (const auto& [card, runners] : by_card(records)) EXPECT_EQ(most_at_once(runners), 1u) << "card " << card;
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

const std::vector<std::string> GRAPH_TESTS = {"--exact", "all_tile_permutation_works", "all_tile_reduction_works",
                                              "direct_multicast_works", "multicast_receiver_can_send_in_same_phase"};

std::vector<std::string> with_threads(std::vector<std::string> args, int threads) {
  args.insert(args.end(), {"--test-threads", std::to_string(threads)});
  return args;
}

TEST_F(Cards, TwoProcessesOnOneCardNeverOverlap) {
  const ChildEnvironment slow = {{"ZLU_STANDIN_SLEEP_MS", "40"}};
  const auto first = start_suite(with_threads(GRAPH_TESTS, 2), slow);
  const auto second = start_suite(with_threads(GRAPH_TESTS, 2), slow);
  const auto first_run = wait_program(first);
  const auto second_run = wait_program(second);
  EXPECT_EQ(first_run.exit_code(), 0) << first_run.out << first_run.err;
  EXPECT_EQ(second_run.exit_code(), 0) << second_run.out << second_run.err;
  const auto started = records();
  ASSERT_EQ(started.size(), 8u);
  EXPECT_EQ(most_at_once(started), 1u);
  for (const auto& record : started) EXPECT_FALSE(record.env("ZLU_CARD_ID")) << "no cards were listed";
}

TEST_F(Cards, FourCardsWithEightWorkersRunFourAtOnceNeverTwoOnACard) {
  const auto run = run_suite({"--test-threads", "8"}, {{"ZLU_TEST_CARDS", "0-3"}, {"ZLU_STANDIN_SLEEP_MS", "100"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out << run.err;
  const auto started = records();
  ASSERT_EQ(started.size(), 27u);
  EXPECT_EQ(most_at_once(started), 4u);
  const auto cards = by_card(started);
  for (const auto& [card, runners] : cards) EXPECT_TRUE(card == "0" || card == "1" || card == "2" || card == "3") << card;
  expect_one_runner_per_card(started);
}

TEST_F(Cards, TwoProcessesSharingTwoCardsNeverRunMoreThanTwo) {
  const ChildEnvironment pool = {{"ZLU_TEST_CARDS", "5,7"}, {"ZLU_STANDIN_SLEEP_MS", "30"}};
  const auto first = start_suite(with_threads(GRAPH_TESTS, 4), pool);
  const auto second = start_suite(with_threads(GRAPH_TESTS, 4), pool);
  const auto first_run = wait_program(first);
  const auto second_run = wait_program(second);
  EXPECT_EQ(first_run.exit_code(), 0) << first_run.err;
  EXPECT_EQ(second_run.exit_code(), 0) << second_run.err;
  const auto started = records();
  ASSERT_EQ(started.size(), 8u);
  EXPECT_EQ(most_at_once(started), 2u);
  expect_one_runner_per_card(started);
  EXPECT_EQ(by_card(started).size(), 2u);
}

TEST_F(Cards, AKilledSuitesRunnerDiesWithItAndLeavesTheCardFree) {
  const std::vector<std::string> one = {"--exact", "all_tile_reduction_works"};
  const auto killed = start_suite(one, {{"ZLU_STANDIN_SLEEP_MS", "900"}});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::uint64_t killed_at = monotonic_ns();
  ASSERT_EQ(kill(killed.pid, SIGKILL), 0);
  const auto killed_run = wait_program(killed);
  ASSERT_TRUE(WIFSIGNALED(killed_run.wait_status));

  const auto next = run_suite(one, {{"ZLU_STANDIN_SLEEP_MS", "0"}});
  EXPECT_EQ(next.exit_code(), 0) << next.out << next.err;
  // The killed suite's runner dies with it (it would have recorded its end
  // 600 ms after the kill), so the card is free for the next suite at once.
  const auto started = records();
  ASSERT_EQ(started.size(), 1u) << "only the next suite's runner may have ended normally";
  EXPECT_EQ(started[0].env("ZLU_STANDIN_SLEEP_MS"), "0");
  EXPECT_LT(started[0].start_ns - killed_at, 600'000'000u) << "the card was freed late";
}

TEST_F(Cards, ARunnerDrivesTheCardTheSuiteLocksWhateverCardIdItInherits) {
  struct Case {
    ChildEnvironment environment;
    std::string card;
  };
  const std::vector<Case> cases = {{{{"ZLU_CARD_ID", "7"}}, "7"},
                                   {{{"ZLU_CARD_ID", "7"}, {"ZLU_TEST_CARDS", "3"}}, "3"}};
  for (const auto& [environment, card] : cases) {
    std::filesystem::remove_all(lock_dir());
    std::filesystem::remove(record_path());
    const auto run = run_one("all_tile_reduction_works", environment);
    EXPECT_EQ(run.exit_code(), 0) << card << run.err;
    const auto started = records();
    ASSERT_EQ(started.size(), 1u) << card;
    EXPECT_EQ(started[0].env("ZLU_CARD_ID"), card);
    std::vector<std::string> lock_files;
    for (const auto& entry : std::filesystem::directory_iterator(lock_dir())) {
      lock_files.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(lock_files, std::vector<std::string>{"card-" + card + ".lock"});
  }

  std::filesystem::remove(record_path());
  const auto refused = run_one("all_tile_reduction_works", {{"ZLU_CARD_ID", "-1"}});
  EXPECT_EQ(refused.exit_code(), 101);
  EXPECT_EQ(refused.err, "ZLU_CARD_ID=\"-1\": expected the number of the card to run on (or ZLU_TEST_CARDS to list "
                         "cards): \"-1\" is not a card number\n");
  EXPECT_TRUE(refused.out.empty()) << refused.out;
  EXPECT_TRUE(records().empty());
}

TEST_F(Cards, APlantedLinkAtALockFileLeavesItsTargetUntouched) {
  std::filesystem::create_directory(lock_dir());
  const auto target = dir() / "precious";
  std::ofstream(target) << "keep me\n";
  std::filesystem::create_symlink(target, lock_dir() / "card-0.lock");
  std::filesystem::create_hard_link(target, lock_dir() / "card-1.lock");

  for (const std::string cards : {"0", "1"}) {
    const auto run = run_suite({"--exact", "all_tile_reduction_works"}, {{"ZLU_TEST_CARDS", cards}});
    EXPECT_EQ(run.exit_code(), 101) << cards;
    EXPECT_NE(run.err.find("card " + cards + " lock file \"" + (lock_dir() / ("card-" + cards + ".lock")).string() +
                           "\" (ZLU_TEST_LOCK_DIR) cannot be used: "),
              std::string::npos)
        << run.err;
    EXPECT_EQ(count_of(run.err, "\n"), 1u) << run.err;
  }
  EXPECT_EQ(read_text(target), "keep me\n");
  EXPECT_TRUE(records().empty());
}

TEST_F(Cards, ALockFileReplacedByALinkDuringTheRunFailsTheTestThatNeedsIt) {
  const auto target = dir() / "precious";
  std::ofstream(target) << "keep me\n";
  const auto started = start_suite({"--test-threads", "1", "--exact", "all_tile_permutation_works", "all_tile_reduction_works"},
                                   {{"ZLU_STANDIN_SLEEP_MS", "400"}});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::filesystem::create_symlink(target, dir() / "planted");
  std::filesystem::rename(dir() / "planted", lock_dir() / "card-0.lock");
  const auto run = wait_program(started);
  EXPECT_TRUE(reports_failure(run, "all_tile_reduction_works",
                              "card 0 lock file \"" + (lock_dir() / "card-0.lock").string() +
                                  "\" (ZLU_TEST_LOCK_DIR) cannot be used: a link stands at the lock file"))
      << run.out;
  EXPECT_EQ(read_text(target), "keep me\n");
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(Cards, MalformedCardListsStopTheRunBeforeAnyRunner) {
  for (const std::string list : {"x", "3-1", "0,0", "-1", "1,,2", "99999999999999999999", "", "0-2,1"}) {
    const auto run = run_suite({}, {{"ZLU_TEST_CARDS", list}});
    EXPECT_EQ(run.exit_code(), 101) << list;
    EXPECT_EQ(run.err.find("ZLU_TEST_CARDS=\"" + list + "\": expected card numbers and ranges"), 0u) << run.err;
    EXPECT_EQ(count_of(run.err, "\n"), 1u) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
  EXPECT_TRUE(records().empty());
}

TEST_F(Cards, UnusableLockFoldersStopTheRunBeforeAnyRunner) {
  std::ofstream(dir() / "a-file") << "";
  std::vector<std::filesystem::path> folders = {dir() / "a-file", dir() / "a-file" / "below"};
  if (geteuid() != 0) {
    std::filesystem::create_directory(dir() / "read-only");
    chmod((dir() / "read-only").c_str(), 0555);
    folders.push_back(dir() / "read-only");
  }
  for (const auto& folder : folders) {
    const auto run = run_suite({}, {{"ZLU_TEST_LOCK_DIR", folder.string()}});
    EXPECT_EQ(run.exit_code(), 101) << folder;
    EXPECT_EQ(run.err.find("card lock folder \"" + folder.string() + "\" (ZLU_TEST_LOCK_DIR) cannot be used: "), 0u)
        << run.err;
    EXPECT_EQ(count_of(run.err, "\n"), 1u) << run.err;
  }
  EXPECT_TRUE(records().empty());
}

}  // namespace
}  // namespace hardware_e2e_tests
