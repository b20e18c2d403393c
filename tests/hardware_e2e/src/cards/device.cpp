#include "cards/device.hpp"

#include <condition_variable>
#include <mutex>
#include <unistd.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "harness/src/run/interrupt.hpp"
#include "harness/src/lib.hpp"
#include "cards/host_cards.hpp"
#include "timeline/timeline.hpp"
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

}  // namespace

struct CardPool::State {
  State(std::vector<unsigned> cards, std::unique_ptr<HostCards> host_cards)
      : choice(std::move(cards)), host(std::move(host_cards)) {}

  std::mutex mutex;
  std::condition_variable freed;
  CardChoice choice;
  std::unique_ptr<HostCards> host;
};

CardPool::CardPool() : CardPool({0}, std::nullopt, false) {}

CardPool::CardPool(std::vector<unsigned> cards, std::optional<LockFolder> folder, bool announce_card,
                   bool reclaim_left_behind)
    : state_(std::make_unique<State>(std::move(cards), folder ? lock_file_cards(std::move(*folder), reclaim_left_behind)
                                                              : in_process_cards())),
      announce_card_(announce_card) {}

CardPool::~CardPool() = default;

std::expected<void, std::string> CardPool::check_lock_files() const {
  return state_->host->check(state_->choice.cards());
}

std::optional<CardChoice::Granted> CardPool::acquire(std::span<const Exclusion> exclusions) {
  bool said = false;
  std::unique_lock lock(state_->mutex);
  while (true) {
    auto outcome = state_->choice.choose(exclusions, *state_->host);
    if (auto* granted = std::get_if<CardChoice::Granted>(&outcome)) return *granted;
    if (auto* unusable = std::get_if<HostCards::Unusable>(&outcome)) harness::fail(std::move(unusable->why));
    if (auto* quarantined = std::get_if<CardChoice::AllQuarantined>(&outcome)) {
      harness::fail(fmt::format("every card of the pool is quarantined ({}): no test can run until one is released",
                                fmt::join(quarantined->cards, ", ")));
    }
    if (auto* take_back = std::get_if<CardChoice::TakeBack>(&outcome)) {
      // The grace period must not hold up the other threads of the pool.
      lock.unlock();
      zlu_base::write_stderr_line(take_back->reclaim->announcement());
      take_back->reclaim->take_back();
      take_back->reclaim.reset();
      lock.lock();
      state_->choice.reclaimed(take_back->card);
      state_->freed.notify_all();
      continue;
    }
    if (harness::stop_requested()) return std::nullopt;
    const auto& none = std::get<CardChoice::Unavailable>(outcome);
    if (!none.held_on_host) {
      state_->freed.wait_for(lock, STOP_CHECK_INTERVAL);
      continue;
    }
    if (!said && !none.news.empty()) {
      zlu_base::write_stderr_line(none.news);
      said = true;
    }
    state_->freed.wait_for(lock, RETRY_INTERVAL);
  }
}

void CardPool::quarantine(unsigned card) {
  {
    std::lock_guard lock(state_->mutex);
    state_->choice.quarantine(card);
  }
  state_->freed.notify_all();
}

const std::vector<unsigned>& CardPool::cards() const { return state_->choice.cards(); }

void CardPool::release(const CardChoice::Granted& grant) {
  {
    std::lock_guard lock(state_->mutex);
    state_->choice.release(grant.card);
    state_->host->give_back(grant.lock);
  }
  state_->freed.notify_one();
}

void install_device_pool(std::unique_ptr<CardPool> pool) { installed_pool = pool.release(); }

CardPool& device_pool() {
  if (installed_pool != nullptr) return *installed_pool;
  static CardPool* const in_process = new CardPool();
  return *in_process;
}

DeviceGuard::DeviceGuard(CardPool& pool, std::source_location location) : DeviceGuard(pool, {}, location) {}

DeviceGuard::DeviceGuard(CardPool& pool, std::span<const Exclusion> exclusions, std::source_location location)
    : pool_(pool) {
  const auto asked = std::chrono::steady_clock::now();
  const auto grant = pool_.acquire(exclusions);
  waited_ = std::chrono::steady_clock::now() - asked;
  note_card_wait(asked, waited_);
  if (!grant) harness::fail("interrupted while waiting for a card", location);
  grant_ = *grant;
  // Reported only with a card pool, so that a run without one keeps its reports.
  harness::attach(harness::CardUse{card(), waited_, pool_.announces_card()});
}

DeviceGuard::~DeviceGuard() { pool_.release(grant_); }

HeldCard DeviceGuard::held() const {
  return HeldCard{card(), pool_.announces_card(), grant_.lock.lock_fd, grant_.lock.group_offset};
}

DeviceGuard device(std::source_location location) {
  std::vector<Exclusion> exclusions;
  if (const auto attempt = harness::current_attempt()) {
    for (const unsigned card : attempt->failed_cards) {
      exclusions.push_back({card, ExclusionReason::failed_by_this_test});
    }
  }
  return DeviceGuard(device_pool(), exclusions, location);
}

}  // namespace hardware_e2e
