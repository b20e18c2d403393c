// The device lock: exclusive use of the one card by one test at a time.
#pragma once

#include <atomic>
#include <mutex>

namespace hardware_e2e {

class DeviceLock {
  // The process-wide lock that keeps runners from overlapping when tests run
  // on several threads. It guards no data. Besides free or held it carries a
  // mark that an earlier holder failed while holding it; the mark is never
  // cleared and never stops the lock from being taken again, so one failing
  // runner cannot fail the tests after it.

 public:
  constexpr DeviceLock() = default;
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  bool failed_holder_marked() const { return failed_holder_.load(std::memory_order_acquire); }

 private:
  friend class DeviceGuard;
  std::mutex mutex_;
  std::atomic<bool> failed_holder_{false};
};

extern constinit DeviceLock DEVICE;
// Statically initialised as free and never destroyed: tests on threads that
// outlive main's return must still find it intact.

class [[nodiscard]] DeviceGuard {
  // Holding one means holding the card. Released when it goes out of scope;
  // if it is released while a failure is unwinding the holder's stack, the
  // lock is marked as having had a failed holder.

 public:
  explicit DeviceGuard(DeviceLock& lock);
  ~DeviceGuard();
  DeviceGuard(const DeviceGuard&) = delete;
  DeviceGuard& operator=(const DeviceGuard&) = delete;

 private:
  DeviceLock& lock_;
  int exceptions_at_entry_;
  // Exceptions already in flight when the guard was taken, so that only a
  // failure raised while holding it marks the lock.
};

DeviceGuard device();
// Blocks until DEVICE is free and takes it, marked or not.

}  // namespace hardware_e2e
