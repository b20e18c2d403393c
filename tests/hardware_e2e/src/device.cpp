#include "device.hpp"

#include <algorithm>
#include <exception>
#include <thread>
#include <unistd.h>

#include <fmt/format.h>

#include "harness/src/interrupt.hpp"
#include "harness/src/lib.hpp"
#include "timeline.hpp"
#include "zlu-base/src/fd.hpp"

namespace hardware_e2e {

namespace {

// How often a test waiting for cards that other processes hold tries them
// again; the kernel offers no wait on several locks at once.
constexpr auto RETRY_INTERVAL = std::chrono::milliseconds(5);
// How often a test waiting for a card this process holds looks at the run's
// stop request, which no notification carries to it.
constexpr auto STOP_CHECK_INTERVAL = std::chrono::milliseconds(20);

CardPool* installed_pool = nullptr;

thread_local const DeviceGuard* innermost_guard = nullptr;

}  // namespace

CardPool::CardPool() : CardPool({0}, std::nullopt, false) {}

CardPool::CardPool(std::vector<unsigned> cards, std::optional<LockFolder> folder, bool announce_card,
                   bool reclaim_left_behind)
    : folder_(std::move(folder)), announce_card_(announce_card), reclaim_left_behind_(reclaim_left_behind) {
  for (unsigned card : cards) slots_.push_back(Slot{card, false, false, false, {}});
}

std::expected<void, std::string> CardPool::check_lock_files() const {
  if (!folder_) return {};
  for (const auto& slot : slots_) {
    auto fd = folder_->open_card(slot.card);
    if (!fd) return std::unexpected(fd.error());
    ::close(*fd);
  }
  return {};
}

bool CardPool::failed_holder_marked(unsigned card) const {
  std::lock_guard lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot.card == card) return slot.failed_holder;
  }
  return false;
}

std::optional<CardPool::Grant> CardPool::try_acquire_locked(std::vector<std::string>& held_elsewhere,
                                                            std::optional<Reclaim>& reclaim) {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].busy) continue;
    if (!folder_) {
      slots_[i].busy = true;
      return Grant{i, -1, 0};
    }
    // Another thread is taking it back; look again soon.
    if (slots_[i].reclaiming) {
      held_elsewhere.emplace_back();
      continue;
    }
    auto fd = folder_->open_card(slots_[i].card);
    // The lock files were usable at start-up, so someone has since replaced
    // this one: fail the test rather than run unlocked or wait for ever.
    if (!fd) harness::fail(fd.error());
    if (try_lock_card(*fd)) {
      if (reclaim) ::close(reclaim->lock_fd);
      reclaim.reset();
      const off_t group_offset = write_holder(*fd);
      slots_[i].busy = true;
      return Grant{i, *fd, group_offset};
    }
    const auto holder = read_holder(*fd);
    if (holder && !reclaim) {
      if (auto left = left_behind(slots_[i], *fd, *holder)) {
        reclaim = Reclaim{i, *fd, *holder, std::move(*left)};
        continue;
      }
    }
    // A runner this process is starting holds every descriptor until its
    // exec closes them; a lock held by ourselves is that moment, not news.
    if (!holder) {
      held_elsewhere.push_back(fmt::format("card {} is held by another process; waiting for it", slots_[i].card));
    } else if (!holder_is_this_process(*holder)) {
      held_elsewhere.push_back(fmt::format("card {} is held by process {} ({}); waiting for it", slots_[i].card,
                                           holder->pid, holder->program));
    } else {
      held_elsewhere.emplace_back();
    }
    ::close(*fd);
  }
  if (reclaim) slots_[reclaim->slot].reclaiming = true;
  return std::nullopt;
}

std::optional<LeftBehind> CardPool::left_behind(Slot& slot, int lock_fd, const Holder& holder) {
  if (!reclaim_left_behind_ || holder.runner_group <= 0 || !holder_has_ended(holder)) return std::nullopt;
  // A record already found not to be verified stays so: its holder has
  // ended, so it can no longer start anything into the group.
  const std::string record = fmt::format("{} {} {}", holder.pid, holder.start_time, holder.runner_group);
  if (slot.unreclaimable == record) return std::nullopt;
  auto left = find_left_behind(lock_fd, holder);
  if (!left) slot.unreclaimable = record;
  return left;
}

void CardPool::reclaim(std::unique_lock<std::mutex>& lock, const Reclaim& what) {
  const unsigned card = slots_[what.slot].card;
  // The grace period must not hold up the other threads of the pool.
  lock.unlock();
  zlu_base::write_stderr_line(
      fmt::format("card {} is kept locked by process group {} of process {} ({}), which has ended; stopping that group",
                  card, what.left.group, what.holder.pid, what.holder.program));
  stop_left_behind(what.lock_fd, what.left);
  ::close(what.lock_fd);
  lock.lock();
  slots_[what.slot].reclaiming = false;
  freed_.notify_all();
}

std::optional<CardPool::Grant> CardPool::acquire() {
  bool said = false;
  std::unique_lock lock(mutex_);
  while (true) {
    std::vector<std::string> held_elsewhere;
    std::optional<Reclaim> left_behind;
    if (auto grant = try_acquire_locked(held_elsewhere, left_behind)) return *grant;
    if (left_behind) {
      reclaim(lock, *left_behind);
      continue;
    }
    if (harness::stop_requested()) return std::nullopt;
    if (held_elsewhere.empty()) {
      freed_.wait_for(lock, STOP_CHECK_INTERVAL);
      continue;
    }
    const auto news = std::find_if(held_elsewhere.begin(), held_elsewhere.end(), [](auto& t) { return !t.empty(); });
    if (!said && news != held_elsewhere.end()) {
      zlu_base::write_stderr_line(*news);
      said = true;
    }
    freed_.wait_for(lock, RETRY_INTERVAL);
  }
}

void CardPool::release(std::size_t slot, int lock_fd, bool failed) {
  {
    std::lock_guard lock(mutex_);
    if (failed) slots_[slot].failed_holder = true;
    slots_[slot].busy = false;
    // Closing this description leaves the card locked while a runner that
    // inherited it still lives.
    if (lock_fd >= 0) ::close(lock_fd);
  }
  freed_.notify_one();
}

void install_device_pool(std::unique_ptr<CardPool> pool) { installed_pool = pool.release(); }

CardPool& device_pool() {
  if (installed_pool != nullptr) return *installed_pool;
  static CardPool* const in_process = new CardPool();
  return *in_process;
}

DeviceGuard::DeviceGuard(CardPool& pool, std::source_location location)
    : pool_(pool), exceptions_at_entry_(std::uncaught_exceptions()), enclosing_(innermost_guard) {
  const auto asked = std::chrono::steady_clock::now();
  const auto grant = pool_.acquire();
  waited_ = std::chrono::steady_clock::now() - asked;
  note_card_wait(asked, waited_);
  if (!grant) harness::fail("interrupted while waiting for a card", location);
  grant_ = *grant;
  // Reported only with a card pool, so that a run without one keeps its reports.
  if (pool_.announces_card()) {
    harness::record_property("card", std::to_string(card()));
    harness::record_property("card_wait_ms",
                             fmt::format("{:.3f}", std::chrono::duration<double, std::milli>(waited_).count()));
  }
  innermost_guard = this;
}

DeviceGuard::~DeviceGuard() {
  innermost_guard = enclosing_;
  pool_.release(grant_.slot, grant_.lock_fd, std::uncaught_exceptions() > exceptions_at_entry_);
}

unsigned DeviceGuard::card() const { return pool_.slots_[grant_.slot].card; }

HeldCard DeviceGuard::held() const {
  return HeldCard{card(), pool_.announces_card(), grant_.lock_fd, grant_.group_offset};
}

DeviceGuard device(std::source_location location) { return DeviceGuard(device_pool(), location); }

std::optional<HeldCard> held_card() {
  if (innermost_guard == nullptr) return std::nullopt;
  return innermost_guard->held();
}

}  // namespace hardware_e2e
