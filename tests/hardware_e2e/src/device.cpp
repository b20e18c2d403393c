#include "device.hpp"

#include <exception>
#include <type_traits>

namespace hardware_e2e {

static_assert(std::is_trivially_destructible_v<DeviceLock>,
              "DEVICE must never run a destructor, so it stays usable until the process ends");

constinit DeviceLock DEVICE;

DeviceGuard::DeviceGuard(DeviceLock& lock) : lock_(lock), exceptions_at_entry_(std::uncaught_exceptions()) {
  lock_.mutex_.lock();
}

DeviceGuard::~DeviceGuard() {
  if (std::uncaught_exceptions() > exceptions_at_entry_) lock_.failed_holder_.store(true, std::memory_order_release);
  lock_.mutex_.unlock();
}

DeviceGuard device() { return DeviceGuard(DEVICE); }

}  // namespace hardware_e2e
