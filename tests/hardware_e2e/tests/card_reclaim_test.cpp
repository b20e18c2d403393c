// The holder record a card's lock file carries, and what a waiter does with
// a runner group that outlived its holder.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "cards/card_reclaim.hpp"
#include "launch/runner_command.hpp"
#include "launch/runner_process.hpp"

namespace hardware_e2e {
namespace {

class CardReclaim : public testing::Test {
  // A lock folder of its own, and processes started for a test killed after it.

 protected:
  void SetUp() override {
    std::string name = (std::filesystem::temp_directory_path() / "card-reclaim-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    dir_ = name;
    auto folder = LockFolder::open(dir_.string(), false);
    ASSERT_TRUE(folder) << folder.error();
    auto fd = folder->open_card(0);
    ASSERT_TRUE(fd) << fd.error();
    lock_fd_ = *fd;
    // Orphans of the processes a test starts come back here to be reaped.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  }
  void TearDown() override {
    end_all();
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    close(lock_fd_);
    std::filesystem::remove_all(dir_);
  }

  // Kills and reaps every process started, and closes the lock's descriptors.
  void end_all() {
    for (const pid_t pid : started_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    started_.clear();
    for (const int fd : taken_) close(fd);
    taken_.clear();
  }

  // A new open file description of the lock file, locked (or not), which
  // processes started later inherit; -1 when it cannot be had.
  int take_lock(bool locked = true) {
    const int fd = open((dir_ / "card-0.lock").c_str(), O_RDWR);
    if (fd >= 0 && locked && flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      return -1;
    }
    taken_.push_back(fd);
    return fd;
  }

  // A process, leading a group of its own or in this one, that runs `setup`
  // (failing when it returns -1) and sleeps until killed.
  pid_t start(bool own_group, const std::function<int()>& setup = {}) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      if (own_group) setpgid(0, 0);
      const char done = (setup && setup() < 0) ? 'n' : 'y';
      [[maybe_unused]] const auto written = write(ready[1], &done, 1);
      while (true) pause();
    }
    if (own_group) setpgid(pid, pid);
    started_.push_back(pid);
    char done = 'n';
    close(ready[1]);
    EXPECT_EQ(read(ready[0], &done, 1), 1);
    EXPECT_EQ(done, 'y');
    close(ready[0]);
    return pid;
  }

  struct Left {
    pid_t group;  // the ended runner's
    pid_t member;  // its child, adopted by this process
  };

  // What a killed suite leaves: it took the lock and started a runner, both
  // have ended, and the runner's child keeps the lock in the runner's group.
  // `stray`: the runner also started a process that left its group and
  // keeps the lock as well.
  Left left_behind(bool stray) {
    int ids[2];
    EXPECT_EQ(pipe(ids), 0);
    const pid_t suite = fork();
    if (suite == 0) {
      if (take_lock() < 0) _exit(1);
      const pid_t runner = fork();
      if (runner == 0) {
        setpgid(0, 0);
        pid_t started[3] = {getpid(), fork(), 0};
        if (started[1] == 0) while (true) pause();
        if (stray && (started[2] = fork()) == 0) {
          setpgid(0, 0);
          while (true) pause();
        }
        [[maybe_unused]] const auto written = write(ids[1], started, sizeof started);
        _exit(0);
      }
      waitpid(runner, nullptr, 0);
      _exit(0);
    }
    close(ids[1]);
    pid_t started[3] = {0, 0, 0};
    EXPECT_EQ(read(ids[0], started, sizeof started), static_cast<ssize_t>(sizeof started));
    close(ids[0]);
    int status = -1;
    EXPECT_EQ(waitpid(suite, &status, 0), suite);
    EXPECT_EQ(status, 0) << "the suite could not take the lock";
    if (started[2] != 0) started_.push_back(started[2]);
    started_.push_back(started[1]);
    return Left{started[0], started[1]};
  }

  Holder ended_holder(pid_t group) const {
    return Holder{std::to_string(getpid()), "suite", "1", group};  // this pid, but an earlier process
  }

  std::string contents() const {
    std::string text(512, '\0');
    text.resize(static_cast<std::size_t>(pread(lock_fd_, text.data(), text.size(), 0)));
    return text;
  }

  std::filesystem::path dir_;
  int lock_fd_ = -1;
  std::vector<pid_t> started_;
  std::vector<int> taken_;
};

TEST_F(CardReclaim, TheRunnerRecordsItsGroupBelowALineOlderReadersStillRead) {
  const std::string stale(300, 'x');
  ASSERT_EQ(pwrite(lock_fd_, stale.data(), stale.size(), 0), 300);
  const off_t group_offset = write_holder(lock_fd_);
  std::string program = fmt::format("{}/{}", runner_dir(), HOST_RUNNER);
  char* argv[] = {program.data(), nullptr};
  char* envp[] = {nullptr};
  auto runner = RunnerProcess::spawn(program.c_str(), argv, envp, {lock_fd_, group_offset, GROUP_FIELD_WIDTH});
  ASSERT_TRUE(runner);
  const pid_t runner_pid = runner->pid();
  ASSERT_TRUE(runner->reap());

  const std::string text = contents();
  EXPECT_EQ(text.size(), stale.size()) << "never truncated";
  EXPECT_EQ(text.find('x'), 256u) << "the record is 256 wide";
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), fmt::format("{} {}\n", getpid(), program_invocation_name));
  const auto holder = read_holder(lock_fd_);
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->pid, std::to_string(getpid()));
  EXPECT_EQ(holder->program, program_invocation_name);
  EXPECT_EQ(holder->start_time, process_start_time(getpid()));
  EXPECT_EQ(holder->runner_group, runner_pid);
  EXPECT_TRUE(holder_is_this_process(*holder));
  EXPECT_FALSE(holder_has_ended(*holder));
}

TEST_F(CardReclaim, ALongProgramNameGivesWayToTheGroupField) {
  std::string long_name(400, 'p');
  char* const saved = program_invocation_name;
  program_invocation_name = long_name.data();
  const off_t group_offset = write_holder(lock_fd_);
  program_invocation_name = saved;
  ASSERT_EQ(pwrite(lock_fd_, "4242", 4, group_offset), 4);
  const auto holder = read_holder(lock_fd_);
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->runner_group, 4242);
  EXPECT_EQ(holder->start_time, process_start_time(getpid()));
  EXPECT_TRUE(holder->program.starts_with("ppp"));
  EXPECT_LT(holder->program.size(), 256u);
}

TEST_F(CardReclaim, ARecordOfOneLineNamesNoGroupAndNeverCountsAsEnded) {
  std::string record = "999999 /old/hardware_e2e\n";
  record.resize(256, ' ');
  ASSERT_EQ(pwrite(lock_fd_, record.data(), record.size(), 0), 256);
  const auto holder = read_holder(lock_fd_);
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->program, "/old/hardware_e2e");
  EXPECT_EQ(holder->runner_group, 0);
  EXPECT_FALSE(holder_has_ended(*holder));
  EXPECT_FALSE(find_left_behind(lock_fd_, *holder));
}

TEST_F(CardReclaim, OnlyAGroupTheKernelShowsKeepingTheLockAloneForAnEndedSuiteIsFound) {
  // Each case arranges processes and returns the record a waiter finds and
  // the group it must find (0: none).
  struct Case {
    std::string what;
    std::function<std::pair<Holder, pid_t>()> arrange;
  };
  const std::vector<Case> cases = {
      {"a killed suite's runner group",
       [&] {
         const auto left = left_behind(false);
         return std::pair{ended_holder(left.group), left.group};
       }},
      {"the same group, recorded by a live suite",
       [&] {
         Holder alive = ended_holder(left_behind(false).group);
         alive.start_time = process_start_time(getpid()).value();
         return std::pair{alive, 0};
       }},
      {"forged: a live suite's runner group, the suite keeping the lock too",
       [&] {
         take_lock();
         return std::pair{ended_holder(start(true)), 0};
       }},
      {"forged: a live suite's runner, alone keeping the lock",
       [&] {
         const int lock = take_lock();
         const pid_t runner = start(true);
         close(lock);
         return std::pair{ended_holder(runner), 0};
       }},
      {"forged: a bystander that has the lock file open",
       [&] {
         left_behind(false);
         return std::pair{ended_holder(start(true, [&] { return take_lock(false); })), 0};
       }},
      {"forged: a group whose member took the lock",
       [&] { return std::pair{ended_holder(start(true, [&] { return take_lock(); })), 0}; }},
      {"a runner group sharing the lock with a process that left it",
       [&] { return std::pair{ended_holder(left_behind(true).group), 0}; }},
  };
  for (const auto& [what, arrange] : cases) {
    const auto [record, group] = arrange();
    const auto left = find_left_behind(lock_fd_, record);
    EXPECT_EQ(left ? left->group : 0, group) << what;
    if (left && group != 0) {
      const pid_t member = started_.back();
      stop_left_behind(lock_fd_, *left);
      int status = 0;
      ASSERT_EQ(waitpid(member, &status, 0), member);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << what << ": " << status;
      started_.pop_back();
    }
    end_all();
  }
}

}  // namespace
}  // namespace hardware_e2e
