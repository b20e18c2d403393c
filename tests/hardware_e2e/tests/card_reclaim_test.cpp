// The holder record a card's lock file carries, and what a waiter does with
// a runner group that outlived its holder.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "card_reclaim.hpp"
#include "runner_command.hpp"
#include "runner_process.hpp"

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
    fstat(lock_fd_, &file_);
  }
  void TearDown() override {
    for (const pid_t pid : started_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(lock_fd_);
    std::filesystem::remove_all(dir_);
  }

  // A process leading a group of its own that sleeps until killed, holding
  // the lock file open or not.
  pid_t start_group(bool holding) {
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      if (!holding) close(lock_fd_);
      while (true) pause();
    }
    setpgid(pid, pid);
    started_.push_back(pid);
    // Until the child has closed it, the descriptor is open there.
    for (int tries = 0; !holding && tries < 1000 && holds_open(pid, file_.st_dev, file_.st_ino); ++tries) {
      usleep(1000);
    }
    return pid;
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
  struct stat file_{};
  std::vector<pid_t> started_;
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

TEST_F(CardReclaim, OnlyAGroupHoldingTheLockFileForAnEndedHolderIsFoundAndStopped) {
  const pid_t holding = start_group(true);
  const pid_t not_holding = start_group(false);

  Holder alive = ended_holder(holding);
  alive.start_time = process_start_time(getpid()).value();
  EXPECT_FALSE(find_left_behind(lock_fd_, alive)) << "a live holder is waited for";
  EXPECT_FALSE(find_left_behind(lock_fd_, ended_holder(not_holding))) << "membership not verified";

  const auto left = find_left_behind(lock_fd_, ended_holder(holding));
  ASSERT_TRUE(left);
  EXPECT_EQ(left->group, holding);
  stop_left_behind(lock_fd_, *left);
  int status = 0;
  ASSERT_EQ(waitpid(holding, &status, 0), holding);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(waitpid(not_holding, &status, WNOHANG), 0) << "another group is left alone";
}

}  // namespace
}  // namespace hardware_e2e
