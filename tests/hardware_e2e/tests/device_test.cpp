#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "device.hpp"

namespace hardware_e2e {
namespace {

TEST(DeviceLock, FailureWhileHeldMarksItAndTheNextHolderStillGetsIt) {
  CardPool lock;
  EXPECT_FALSE(lock.failed_holder_marked(0));
  {
    DeviceGuard _device(lock);
  }
  EXPECT_FALSE(lock.failed_holder_marked(0)) << "a normal release must not mark the lock";

  std::thread failing([&] {
    try {
      DeviceGuard _device(lock);
      throw std::runtime_error("runner failed");
    } catch (const std::runtime_error&) {
    }
  });
  failing.join();
  EXPECT_TRUE(lock.failed_holder_marked(0));

  std::atomic<bool> taken{false};
  std::thread next([&] {
    DeviceGuard _device(lock);
    taken = true;
  });
  next.join();
  EXPECT_TRUE(taken);
}

TEST(DeviceLock, GuardTakenDuringUnwindingDoesNotMarkIt) {
  CardPool lock;
  struct TakesLockWhileUnwinding {
    CardPool& lock;
    ~TakesLockWhileUnwinding() { DeviceGuard _device(lock); }
  };
  try {
    TakesLockWhileUnwinding cleanup{lock};
    throw std::runtime_error("unrelated");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(lock.failed_holder_marked(0));
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

}  // namespace
}  // namespace hardware_e2e
