// Runners never outlive their tests: time-outs, signals to the suite, a
// suite killed outright and its watchdog, runs that end early.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>

#include "suite_process.hpp"

namespace hardware_e2e_tests {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string PERMUTATION = "all_tile_permutation_works";
const std::string REDUCTION = "all_tile_reduction_works";
constexpr auto GRACE = 2s;
constexpr auto SLACK = 2s;
const std::string WATCHDOG_NAME = "e2e-watchdog";

// The suite's children that go by the watchdog's name, whichever of its
// threads started them.
std::vector<int> watchdogs_of(int suite) {
  std::vector<int> found;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(suite) + "/task", error)) {
    std::ifstream children(task.path() / "children");
    for (int child = 0; children >> child;) {
      std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
      std::string name;
      if (std::getline(comm, name) && name == WATCHDOG_NAME) found.push_back(child);
    }
  }
  return found;
}

// Whether `pid` has a descriptor open on a file in `folder`.
bool has_open_in(int pid, const std::filesystem::path& folder) {
  std::error_code error;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (std::filesystem::read_symlink(fd.path(), error).parent_path() == folder) return true;
  }
  return false;
}

class Lifetime : public SuiteTest {
  // Orphans of the runners come back to this process, so that it can tell
  // a killed one from one still running and reap it; whatever is still
  // running at the end is killed by its process id.

 protected:
  void SetUp() override {
    SuiteTest::SetUp();
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  }
  void TearDown() override {
    for (const int pid : pids()) {
      if (!gone(pid)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    SuiteTest::TearDown();
  }

  std::filesystem::path pid_path() const { return dir() / "pids"; }
  void add_pid(int pid) const { std::ofstream(pid_path(), std::ios::app) << pid << "\n"; }

  ChildEnvironment hanging(const std::string& how, ChildEnvironment environment = {}) const {
    environment.emplace("ZLU_STANDIN_HANG", how);
    environment.emplace("ZLU_STANDIN_PIDS", pid_path().string());
    return environment;
  }

  std::vector<int> pids() const {
    std::ifstream file(pid_path());
    std::vector<int> listed;
    for (int pid = 0; file >> pid;) listed.push_back(pid);
    return listed;
  }

  // Waits up to ten seconds for `count` processes to be listed.
  bool wait_for_pids(std::size_t count) const {
    for (auto until = Clock::now() + 10s; Clock::now() < until; std::this_thread::sleep_for(10ms)) {
      if (pids().size() >= count) return true;
    }
    return false;
  }

  static bool gone(int pid) {
    waitpid(pid, nullptr, WNOHANG);
    return kill(pid, 0) != 0 && errno == ESRCH;
  }

  bool all_gone() const {
    const auto listed = pids();
    return std::all_of(listed.begin(), listed.end(), gone);
  }

  // Whether card 0's host-wide lock can be taken now (and is let go again).
  bool card_free() const {
    const int fd = open((lock_dir() / "card-0.lock").c_str(), O_RDWR | O_CLOEXEC);
    const bool taken = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) close(fd);
    return taken;
  }
};

std::string permutation_timed_out(const std::string& limit, const std::string& status) {
  return "hardware capability \"all-tile permutation graph\" timed out after " + limit + " s and ended with " + status;
}

TEST_F(Lifetime, RunnersPastTheTimeOutAreStoppedWithTheirChildrenAndTheRunGoesOn) {
  struct Case {
    std::string how, limit, status;
    std::size_t processes;
  };
  const std::vector<Case> cases = {{"sleep", "0.5", "signal: 15 (SIGTERM)", 1},
                                   {"ignore-term", "1", "signal: 9 (SIGKILL)", 1},
                                   {"with-child", "1", "signal: 15 (SIGTERM)", 2}};
  for (const auto& [how, limit, status, processes] : cases) {
    std::filesystem::remove(pid_path());
    const auto started = Clock::now();
    const auto run = run_suite({"--test-threads", "1", "--exact", PERMUTATION, REDUCTION},
                               hanging(how, {{"ZLU_TEST_RUNNER_TIMEOUT", limit},
                                             {"ZLU_STANDIN_WHEN", "ZLU_GRAPH_TEST=permutation"}}));
    const auto took = Clock::now() - started;
    EXPECT_EQ(run.exit_code(), 101) << how;
    EXPECT_TRUE(reports_failure(run, PERMUTATION, permutation_timed_out(limit, status))) << how << "\n" << run.out;
    EXPECT_NE(run.out.find("test " + REDUCTION + " ... ok\n"), std::string::npos) << how << "\n" << run.out;
    EXPECT_LT(took, std::chrono::duration<double>(std::stod(limit)) + GRACE + SLACK) << how;
    EXPECT_EQ(pids().size(), processes + 1) << how;
    EXPECT_TRUE(all_gone()) << how;
    // The serial report line stays as it is; the warning goes to standard error.
    EXPECT_NE(run.out.find("test " + PERMUTATION + " ... FAILED\n"), std::string::npos) << how;
    EXPECT_NE(run.err.find("warning: runner zlu-hardware-e2e (pid "), std::string::npos) << how << "\n" << run.err;
    EXPECT_NE(run.err.find(") has been running for over half of its " + limit + " s time-out\n"), std::string::npos)
        << run.err;
  }
}

TEST_F(Lifetime, WithoutATimeOutASlowRunnerPasses) {
  const auto run = run_one(REDUCTION, {{"ZLU_STANDIN_SLEEP_MS", "3000"}});
  EXPECT_EQ(run.exit_code(), 0) << run.out;
  EXPECT_EQ(records().size(), 1u);
  EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
}

TEST_F(Lifetime, MalformedTimeOutsStopTheRunBeforeAnyRunner) {
  for (const std::string value : {"0", "0.0", "-1", "abc", "", "1.", ".5", "2s", " 2", "1e3", "0.0000000001",
                                  "1000000000.5", "99999999999999999999999"}) {
    const auto run = run_suite({"--test-threads", "1"}, {{"ZLU_TEST_RUNNER_TIMEOUT", value}});
    EXPECT_EQ(run.exit_code(), 101) << value;
    EXPECT_EQ(run.err, "ZLU_TEST_RUNNER_TIMEOUT is `" + value +
                           "`, should be a positive number of seconds no larger than 1000000000.\n");
    EXPECT_EQ(run.out, "") << value;
  }
  EXPECT_TRUE(records().empty());
}

TEST_F(Lifetime, SignalsToTheSuiteStopItsRunnersAndStartNoMore) {
  for (const auto& [signal, how] : {std::pair{SIGTERM, "with-child"}, std::pair{SIGINT, "ignore-term"},
                                    std::pair{SIGHUP, "sleep"}}) {
    std::filesystem::remove(pid_path());
    const std::size_t processes = std::string(how) == "with-child" ? 2 : 1;
    Clock::time_point signalled;
    const std::filesystem::path events = dir() / "events.json";
    const auto run = run_suite({"--test-threads", "4"}, hanging(how, {{"ZLU_TEST_EVENTS", events.string()}}),
                               [&](int pid) {
      EXPECT_TRUE(wait_for_pids(processes));
      signalled = Clock::now();
      kill(pid, signal);
    });
    EXPECT_LT(Clock::now() - signalled, GRACE + SLACK) << signal;
    EXPECT_EQ(run.exit_code(), 128 + signal) << signal << "\n" << run.err;
    EXPECT_NE(run.out.find("test result: FAILED. 0 passed;"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(": interrupted, the runner ended with signal: "), std::string::npos) << run.out;
    EXPECT_EQ(pids().size(), processes) << signal;
    EXPECT_TRUE(all_gone()) << signal;
    // The events file's last line, the run's end, names the signal that stopped it.
    std::ifstream written(events);
    std::string line, last;
    while (std::getline(written, line)) last = line;
    EXPECT_NE(last.find(",\"stopped_by_signal\":" + std::to_string(signal) + ",\"run_id\":"), std::string::npos)
        << signal << ": " << last;
  }
}

TEST_F(Lifetime, ASigtermEndsTheWaitForACardAnotherProcessHolds) {
  std::filesystem::create_directories(lock_dir());
  const int other = open((lock_dir() / "card-0.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  const auto started = start_suite({"--exact", REDUCTION}, hanging("sleep"));
  for (auto until = Clock::now() + 10s; Clock::now() < until; std::this_thread::sleep_for(10ms)) {
    std::ifstream err(started.err_path);
    if (std::string{std::istreambuf_iterator<char>(err), {}}.ends_with("; waiting for it\n")) break;
  }
  const auto signalled = Clock::now();
  ASSERT_EQ(kill(started.pid, SIGTERM), 0);
  // A suite still waiting after the grace period gets its card, to be judged.
  for (siginfo_t info{}; Clock::now() < signalled + GRACE + SLACK; std::this_thread::sleep_for(10ms)) {
    if (waitid(P_PID, static_cast<id_t>(started.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) {
      break;
    }
  }
  const auto took = Clock::now() - signalled;
  close(other);
  const auto run = wait_program(started);
  EXPECT_EQ(run.exit_code(), 128 + SIGTERM) << run.err;
  EXPECT_TRUE(reports_failure(run, REDUCTION, "interrupted while waiting for a card")) << run.out;
  EXPECT_NE(run.out.find("test result: FAILED. 0 passed; 1 failed;"), std::string::npos) << run.out;
  EXPECT_LT(took, GRACE);
  EXPECT_TRUE(pids().empty()) << "no runner started";
}

TEST_F(Lifetime, ASecondInterruptEndsTheSuiteAtOnce) {
  const auto run = run_suite({"--test-threads", "1"}, hanging("ignore-term"), [&](int pid) {
    EXPECT_TRUE(wait_for_pids(1));
    kill(pid, SIGINT);
    std::this_thread::sleep_for(200ms);
    kill(pid, SIGINT);
  });
  ASSERT_TRUE(WIFSIGNALED(run.wait_status));
  EXPECT_EQ(WTERMSIG(run.wait_status), SIGINT);
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(all_gone());
}

TEST_F(Lifetime, ASuiteKilledOutrightTakesItsRunnerWithIt) {
  const auto run = run_suite({"--test-threads", "4"}, hanging("sleep"), [&](int pid) {
    EXPECT_TRUE(wait_for_pids(1));
    kill(pid, SIGKILL);
  });
  ASSERT_TRUE(WIFSIGNALED(run.wait_status));
  const auto until = Clock::now() + 3s;
  while (!all_gone() && Clock::now() < until) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(all_gone());
  EXPECT_EQ(pids().size(), 1u);
}

class LeftBehind : public Lifetime, public testing::WithParamInterface<ChildEnvironment> {};

// With a card list and on the default card alike.
INSTANTIATE_TEST_SUITE_P(Cards, LeftBehind,
                         testing::Values(ChildEnvironment{{"ZLU_TEST_CARDS", "0"}}, ChildEnvironment{}),
                         [](const auto& info) { return info.param.empty() ? "DefaultCard" : "CardList"; });

TEST_P(LeftBehind, WhatARunnerStartedEndsWithinTheGraceOfAKilledSuiteAndFreesItsCard) {
  // The suite alone, and its whole process group, as a CI job's end does.
  for (const bool whole_group : {false, true}) {
    std::filesystem::remove(pid_path());
    const auto killed = start_suite({"--exact", REDUCTION}, hanging("with-child", GetParam()), true);
    ASSERT_TRUE(wait_for_pids(2));
    for (const int watchdog : watchdogs_of(killed.pid)) add_pid(watchdog);  // it too ends on its own
    const auto killed_at = Clock::now();
    ASSERT_EQ(kill(whole_group ? -killed.pid : killed.pid, SIGKILL), 0);
    ASSERT_TRUE(WIFSIGNALED(wait_program(killed).wait_status));
    while (!(all_gone() && card_free()) && Clock::now() < killed_at + GRACE + SLACK) std::this_thread::sleep_for(10ms);
    // The child ignores SIGTERM: only the SIGKILL after the grace ends it.
    EXPECT_GE(Clock::now() - killed_at, GRACE) << whole_group;
    EXPECT_TRUE(all_gone()) << whole_group;
    EXPECT_TRUE(card_free()) << whole_group;
  }
}

TEST_F(Lifetime, OneWatchdogPerSuiteHoldsNoCardAndEndsWithTheSuite) {
  std::vector<int> watchdogs;
  const auto run = run_suite({"--test-threads", "4"}, hanging("with-child", {{"ZLU_TEST_CARDS", "0-3"}}),
                             [&](int pid) {
                               EXPECT_TRUE(wait_for_pids(8));
                               watchdogs = watchdogs_of(pid);
                               for (const int watchdog : watchdogs) {
                                 for (auto until = Clock::now() + 1s;
                                      has_open_in(watchdog, lock_dir()) && Clock::now() < until;) {
                                   std::this_thread::sleep_for(10ms);
                                 }
                                 EXPECT_FALSE(has_open_in(watchdog, lock_dir()));
                                 add_pid(watchdog);
                               }
                               kill(pid, SIGTERM);
                             });
  EXPECT_EQ(watchdogs.size(), 1u) << "one for four runners";
  EXPECT_EQ(run.exit_code(), 128 + SIGTERM) << run.err;
  const auto until = Clock::now() + SLACK;
  while (!all_gone() && Clock::now() < until) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(all_gone());
}

TEST_P(LeftBehind, TheGroupAKilledSuiteAndItsWatchdogLeftHoldingItsCardIsStoppedByTheNextSuite) {
  const ChildEnvironment card = GetParam();
  const auto killed = start_suite({"--exact", REDUCTION}, hanging("with-child", card));
  ASSERT_TRUE(wait_for_pids(2));
  const auto watchdogs = watchdogs_of(killed.pid);
  ASSERT_EQ(watchdogs.size(), 1u);
  ASSERT_EQ(kill(watchdogs[0], SIGKILL), 0);
  ASSERT_EQ(kill(killed.pid, SIGKILL), 0);
  ASSERT_TRUE(WIFSIGNALED(wait_program(killed).wait_status));
  const auto left = pids();
  // The runner dies with the suite; its child, in the runner's group, keeps the card.
  for (auto until = Clock::now() + 3s; !gone(left[0]) && Clock::now() < until;) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(gone(left[0]));
  ASSERT_FALSE(gone(left[1]));
  ASSERT_FALSE(card_free());

  const auto started = Clock::now();
  const auto next = run_suite({"--exact", REDUCTION}, card);
  EXPECT_LT(Clock::now() - started, GRACE + SLACK);
  EXPECT_EQ(next.exit_code(), 0) << next.out << next.err;
  EXPECT_EQ(next.err, "card 0 is kept locked by process group " + std::to_string(left[0]) + " of process " +
                          std::to_string(killed.pid) + " (" + STANDIN_SUITE + "), which has ended; stopping that group\n");
  EXPECT_TRUE(all_gone());
  EXPECT_EQ(pids().size(), 2u) << "the next suite's runner does not hang";
}

TEST_F(Lifetime, ALiveSuitesRunnerGroupKeepsItsCardAndIsNeverStoppedWhateverItsRecordSays) {
  const ChildEnvironment card = {{"ZLU_TEST_CARDS", "0"}};
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  for (const bool forged : {false, true}) {
    std::filesystem::remove(pid_path());
    const auto holder = start_suite({"--exact", REDUCTION}, hanging("with-child", card));
    ASSERT_TRUE(wait_for_pids(2));
    // Anyone may write the record: name an ended suite and the live runner's group.
    if (forged) std::ofstream(lock_dir() / "card-0.lock") << dead << " /x\n1 " << pids()[0];
    const auto waiter = start_suite({"--exact", REDUCTION}, card);
    // Long enough for a wrongful SIGTERM to have ended the runner.
    std::this_thread::sleep_for(500ms);
    for (const int pid : pids()) EXPECT_FALSE(gone(pid)) << forged << " " << pid;
    EXPECT_EQ(kill(holder.pid, SIGTERM), 0);
    const auto holder_run = wait_program(holder);
    const auto waiter_run = wait_program(waiter);
    EXPECT_EQ(holder_run.exit_code(), 128 + SIGTERM) << forged;
    EXPECT_NE(holder_run.out.find(": interrupted, the runner ended with signal: 15 (SIGTERM)\n"), std::string::npos)
        << forged << holder_run.out;
    EXPECT_EQ(waiter_run.exit_code(), 0) << waiter_run.err;
    const std::string recorded =
        forged ? std::to_string(dead) + " (/x)" : std::to_string(holder.pid) + " (" + STANDIN_SUITE + ")";
    EXPECT_EQ(waiter_run.err, "card 0 is held by process " + recorded + "; waiting for it\n");
    EXPECT_TRUE(all_gone()) << forged;
  }
}

TEST_F(Lifetime, FailFastStopsTheRunnersStillRunningAndStartsNoMore) {
  // Every runner fails after a while; while the first does, the other
  // workers wait for the device, and at most one takes it before the stop.
  const auto run = run_suite({"-Z", "unstable-options", "--fail-fast", "--test-threads", "4"},
                             {{"ZLU_STANDIN_PIDS", pid_path().string()},
                              {"ZLU_STANDIN_SLEEP_MS", "300"},
                              {"ZLU_STANDIN_EXIT", "1"}});
  EXPECT_EQ(run.exit_code(), 101) << run.out;
  const std::size_t started = pids().size();
  EXPECT_TRUE(all_gone());
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(pids().size(), started);
  EXPECT_LE(started, 2u);
}

}  // namespace
}  // namespace hardware_e2e_tests
