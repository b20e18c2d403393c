// The device lock: exclusive use of a card by one test at a time, within
// this process and, with host-wide locks, across every process on the host.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

#include "card_lock.hpp"
#include "card_reclaim.hpp"

namespace hardware_e2e {

class CardPool {
  // The host's cards and who holds them. A card is granted to one guard at
  // a time; with a lock folder, a grant also holds the card's host-wide
  // lock, which a runner started under the guard inherits, so that the card
  // stays locked while the runner lives even if this process is killed.
  // Each card carries a mark that an earlier holder failed while holding it;
  // the mark is never cleared and never stops the card from being granted,
  // so one failing runner cannot fail the tests after it.

 public:
  CardPool();
  // Card 0 alone, locked within this process only.
  CardPool(std::vector<unsigned> cards, std::optional<LockFolder> folder, bool announce_card,
           bool reclaim_left_behind = false);
  // `announce_card`: runners started under a guard get ZLU_CARD_ID.
  // `reclaim_left_behind`: a card whose host-wide lock is kept by a runner
  // group that outlived its suite is taken back (see card_reclaim.hpp),
  // saying so on standard error; otherwise it is waited for like any other.
  CardPool(const CardPool&) = delete;
  CardPool& operator=(const CardPool&) = delete;

  std::expected<void, std::string> check_lock_files() const;
  // Opens every card's lock file once, so that an unusable one stops the run
  // before any runner starts.

  bool failed_holder_marked(unsigned card) const;
  bool announces_card() const { return announce_card_; }

 private:
  friend class DeviceGuard;
  struct Slot {
    unsigned card;
    bool busy = false;
    bool failed_holder = false;
    bool reclaiming = false;  // a thread is stopping what keeps it locked
    std::string unreclaimable;  // the last record found left behind but not verified
  };
  struct Grant {
    std::size_t slot;
    int lock_fd;  // -1 without host-wide locks
    off_t group_offset;  // of the runner group field in the lock file's record
  };
  struct Reclaim {
    std::size_t slot;
    int lock_fd;
    Holder holder;
    LeftBehind left;
  };
  std::optional<Grant> acquire();
  // None when the run is asked to stop while no card is free. Fails the
  // current test when a card's lock file can no longer be used.
  std::optional<Grant> try_acquire_locked(std::vector<std::string>& held_elsewhere, std::optional<Reclaim>& reclaim);
  std::optional<LeftBehind> left_behind(Slot& slot, int lock_fd, const Holder& holder);
  void reclaim(std::unique_lock<std::mutex>& lock, const Reclaim& what);
  void release(std::size_t slot, int lock_fd, bool failed);

  mutable std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<Slot> slots_;
  std::optional<LockFolder> folder_;
  bool announce_card_ = false;
  bool reclaim_left_behind_ = false;
};

void install_device_pool(std::unique_ptr<CardPool> pool);
// Makes `pool` the one device() grants from; called once by main before any
// test runs. It is never destroyed: tests on threads that outlive main's
// return must still find it intact.

CardPool& device_pool();
// The installed pool, or, when none was installed, card 0 locked within
// this process.

struct HeldCard {
  // What a runner started on this thread must carry: the card it runs on,
  // whether it is told so, and the lock it keeps while it lives.

  unsigned card;
  bool announce;
  int lock_fd;  // -1 without host-wide locks
  off_t group_offset;  // where the runner records its group in the lock file
};

class [[nodiscard]] DeviceGuard {
  // Holding one means holding a card. Released when it goes out of scope; if
  // it is released while a failure is unwinding the holder's stack, the
  // card is marked as having had a failed holder.

 public:
  explicit DeviceGuard(CardPool& pool, std::source_location location = std::source_location::current());
  // Waits for a card; fails the current test, at `location`, when the run is
  // asked to stop (a signal, an early end) while it waits.
  ~DeviceGuard();
  DeviceGuard(const DeviceGuard&) = delete;
  DeviceGuard& operator=(const DeviceGuard&) = delete;

  unsigned card() const;
  HeldCard held() const;
  std::chrono::nanoseconds waited() const { return waited_; }
  // How long the guard waited for a card to be granted.

 private:
  CardPool& pool_;
  CardPool::Grant grant_{};
  std::chrono::nanoseconds waited_;
  int exceptions_at_entry_;
  // Exceptions already in flight when the guard was taken, so that only a
  // failure raised while holding it marks the card.
  const DeviceGuard* enclosing_;
};

DeviceGuard device(std::source_location location = std::source_location::current());
// Blocks until a card of the pool is free and takes it, marked or not.

std::optional<HeldCard> held_card();
// The card of the innermost guard alive on the calling thread, if any.

}  // namespace hardware_e2e
