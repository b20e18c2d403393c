// The device lock: exclusive use of a card by one test at a time, within
// this process and, with host-wide locks, across every process on the host.
#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <source_location>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

#include "cards/card_choice.hpp"
#include "cards/card_lock.hpp"

namespace hardware_e2e {

class CardPool {
  // The host's cards and who holds them. A card is granted to one guard at
  // a time (CardChoice says which); with a lock folder, a grant also holds
  // the card's host-wide lock, which a runner started under the guard
  // inherits, so that the card stays locked while the runner lives even if
  // this process is killed.

 public:
  CardPool();
  // Card 0 alone, locked within this process only.
  CardPool(std::vector<unsigned> cards, std::optional<LockFolder> folder, bool announce_card,
           bool reclaim_left_behind = false);
  // `announce_card`: runners started under a guard get ZLU_CARD_ID.
  // `reclaim_left_behind`: a card whose host-wide lock is kept by a runner
  // group that outlived its suite is taken back (see card_reclaim.hpp),
  // saying so on standard error; otherwise it is waited for like any other.
  ~CardPool();
  CardPool(const CardPool&) = delete;
  CardPool& operator=(const CardPool&) = delete;

  std::expected<void, std::string> check_lock_files() const;
  // Opens every card's lock file once, so that an unusable one stops the run
  // before any runner starts.

  bool announces_card() const { return announce_card_; }

  void quarantine(unsigned card);
  // Grants `card` no more in this run; a test that waits for a card fails
  // at once when every card is quarantined.

  const std::vector<unsigned>& cards() const;

 private:
  friend class DeviceGuard;
  std::optional<CardChoice::Granted> acquire(std::span<const Exclusion> exclusions);
  // None when the run is asked to stop while no card is free. Fails the
  // current test when a card's lock file can no longer be used.
  void release(const CardChoice::Granted& grant);

  struct State;
  std::unique_ptr<State> state_;
  bool announce_card_ = false;
};

void install_device_pool(std::unique_ptr<CardPool> pool);
// Makes `pool` the one device() grants from; called once by main before any
// test runs. It is never destroyed: tests on threads that outlive main's
// return must still find it intact.

CardPool& device_pool();
// The installed pool, or, when none was installed, card 0 locked within
// this process.

struct HeldCard {
  // What a runner started under a guard must carry: the card it runs on,
  // whether it is told so, and the lock it keeps while it lives.

  unsigned card = 0;
  bool announce = false;
  int lock_fd = -1;  // -1 without host-wide locks
  off_t group_offset = 0;  // where the runner records its group in the lock file
};

class [[nodiscard]] DeviceGuard {
  // Holding one means holding a card: the lease a test body takes and hands
  // to each runner command it builds (see runner_command()). Released when
  // it goes out of scope.

 public:
  explicit DeviceGuard(CardPool& pool, std::source_location location = std::source_location::current());
  DeviceGuard(CardPool& pool, std::span<const Exclusion> exclusions,
              std::source_location location = std::source_location::current());
  // Waits for a card, preferring one not in `exclusions`; fails the current
  // test, at `location`, when the run is asked to stop (a signal, an early
  // end) while it waits.
  ~DeviceGuard();
  DeviceGuard(const DeviceGuard&) = delete;
  DeviceGuard& operator=(const DeviceGuard&) = delete;

  unsigned card() const { return grant_.card; }
  HeldCard held() const;
  std::chrono::nanoseconds waited() const { return waited_; }
  // How long the guard waited for a card to be granted.

 private:
  CardPool& pool_;
  CardChoice::Granted grant_{};
  std::chrono::nanoseconds waited_;
};

DeviceGuard device(std::source_location location = std::source_location::current());
// Blocks until a card of the pool is free and takes it, preferring one on
// which no earlier try of the running test failed.

}  // namespace hardware_e2e
