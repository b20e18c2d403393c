#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cards/device.hpp"
#include "harness/src/run/failure.hpp"
#include "harness/src/run/interrupt.hpp"

namespace hardware_e2e {
namespace {

TEST(DeviceLock, AFailureWhileHeldStillLetsTheNextHolderHaveIt) {
  CardPool lock;
  std::thread failing([&] {
    try {
      DeviceGuard _device(lock);
      throw std::runtime_error("runner failed");
    } catch (const std::runtime_error&) {
    }
  });
  failing.join();

  std::atomic<bool> taken{false};
  std::thread next([&] {
    DeviceGuard _device(lock);
    taken = true;
  });
  next.join();
  EXPECT_TRUE(taken);
}

TEST(DeviceLock, HoldersNeverOverlap) {
  CardPool lock;
  std::atomic<int> inside{0};
  std::atomic<int> most_inside{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        DeviceGuard _device(lock);
        int now = ++inside;
        int seen = most_inside.load();
        while (now > seen && !most_inside.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        --inside;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(most_inside.load(), 1);
}

// Runs in a child process of its own, since a stop request lasts until the
// process ends: waits for a card that `hold` keeps busy, asks the run to
// stop, and exits 0 when the wait failed the test with the expected text at
// the guard's line. A wait that never ends is cut short by SIGALRM.
[[noreturn]] void wait_then_stop(const std::function<CardPool&()>& hold) {
  alarm(5);
  CardPool& pool = hold();
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    harness::request_stop();
  });
  int status = 2;
  const unsigned line = __LINE__ + 2;
  try {
    DeviceGuard _device(pool);
  } catch (const harness::TestFailure& failure) {
    const bool expected = failure.message() == "interrupted while waiting for a card" &&
                          failure.location().line() == line &&
                          std::string_view(failure.location().file_name()).ends_with("device_test.cpp");
    status = expected ? 0 : 1;
    if (!expected) fprintf(stderr, "%s at %u\n", failure.message().c_str(), failure.location().line());
  }
  stopper.join();
  std::_Exit(status);
}

TEST(DeviceLockDeathTest, AStopRequestEndsAWaitForACardInThisProcessOrOnTheHost) {
  std::string made = (std::filesystem::temp_directory_path() / "device-stop-XXXXXX").string();
  ASSERT_NE(mkdtemp(made.data()), nullptr);
  const std::vector<std::pair<std::string, std::function<CardPool&()>>> holders = {
      {"held by another guard of this process",
       []() -> CardPool& {
         static CardPool pool;
         static std::thread holder([] {
           DeviceGuard _device(pool);
           pause();
         });
         std::this_thread::sleep_for(std::chrono::milliseconds(50));
         return pool;
       }},
      {"held by another process's lock",
       [&made]() -> CardPool& {
         auto folder = LockFolder::open(made, false);
         const int other = ::open((made + "/card-0.lock").c_str(), O_RDWR | O_CREAT, 0666);
         if (!folder || other < 0 || ::flock(other, LOCK_EX) != 0) std::_Exit(3);
         static CardPool pool({0}, std::move(*folder), false);
         return pool;
       }},
  };
  for (const auto& [how, hold] : holders) {
    EXPECT_EXIT(wait_then_stop(hold), testing::ExitedWithCode(0), "") << how;
  }
  std::filesystem::remove_all(made);
}

}  // namespace
}  // namespace hardware_e2e
