#include "cards/host_cards.hpp"

#include <map>
#include <unistd.h>

#include <fmt/format.h>

#include "cards/card_reclaim.hpp"
#include "cards/quarantine.hpp"

namespace hardware_e2e {

namespace {

class InProcessCards final : public HostCards {
 public:
  std::expected<void, std::string> check(std::span<const unsigned>) const override { return {}; }
  Outcome try_take(unsigned, bool) override { return Taken{}; }
  void give_back(const Taken&) override {}
};

class LeftBehindReclaim final : public HostCards::Reclaim {
  // Owns the descriptor on the card's lock file it was found through.

 public:
  LeftBehindReclaim(unsigned card, int lock_fd, Holder holder, LeftBehind left)
      : card_(card), lock_fd_(lock_fd), holder_(std::move(holder)), left_(std::move(left)) {}
  ~LeftBehindReclaim() override { ::close(lock_fd_); }
  LeftBehindReclaim(const LeftBehindReclaim&) = delete;
  LeftBehindReclaim& operator=(const LeftBehindReclaim&) = delete;

  std::string announcement() const override {
    return fmt::format("card {} is kept locked by process group {} of process {} ({}), which has ended; stopping that "
                       "group",
                       card_, left_.group, holder_.pid, holder_.program);
  }
  void take_back() override { stop_left_behind(lock_fd_, left_); }

 private:
  unsigned card_;
  int lock_fd_;
  Holder holder_;
  LeftBehind left_;
};

class LockFileCards final : public HostCards {
 public:
  LockFileCards(LockFolder folder, bool reclaim_left_behind)
      : folder_(std::move(folder)), reclaim_left_behind_(reclaim_left_behind) {}

  std::expected<void, std::string> check(std::span<const unsigned> cards) const override {
    for (const unsigned card : cards) {
      auto fd = folder_.open_card(card);
      if (!fd) return std::unexpected(fd.error());
      ::close(*fd);
    }
    return {};
  }

  Outcome try_take(unsigned card, bool look_for_reclaim) override {
    if (is_quarantined(folder_, card)) return Quarantined{};
    auto fd = folder_.open_card(card);
    // The lock files were usable at start-up, so someone has since replaced
    // this one: the test fails rather than run unlocked or wait for ever.
    if (!fd) return Unusable{fd.error()};
    if (try_lock_card(*fd)) return Taken{*fd, write_holder(*fd)};
    const auto holder = read_holder(*fd);
    if (holder && look_for_reclaim) {
      if (auto left = left_behind(card, *fd, *holder)) {
        return std::make_unique<LeftBehindReclaim>(card, *fd, *holder, std::move(*left));
      }
    }
    ::close(*fd);
    // A runner this process is starting holds every descriptor until its
    // exec closes them; a lock held by ourselves is that moment, not news.
    if (!holder) return Held{fmt::format("card {} is held by another process; waiting for it", card)};
    if (!holder_is_this_process(*holder)) {
      return Held{fmt::format("card {} is held by process {} ({}); waiting for it", card, holder->pid,
                              holder->program)};
    }
    return Held{};
  }

  void give_back(const Taken& taken) override {
    // Closing this description leaves the card locked while a runner that
    // inherited it still lives.
    ::close(taken.lock_fd);
  }

 private:
  std::optional<LeftBehind> left_behind(unsigned card, int lock_fd, const Holder& holder) {
    if (!reclaim_left_behind_ || holder.runner_group <= 0 || !holder_has_ended(holder)) return std::nullopt;
    // A record already found not to be verified stays so: its holder has
    // ended, so it can no longer start anything into the group.
    const std::string record = fmt::format("{} {} {}", holder.pid, holder.start_time, holder.runner_group);
    std::string& unreclaimable = unreclaimable_[card];
    if (unreclaimable == record) return std::nullopt;
    auto left = find_left_behind(lock_fd, holder);
    if (!left) unreclaimable = record;
    return left;
  }

  LockFolder folder_;
  bool reclaim_left_behind_;
  std::map<unsigned, std::string> unreclaimable_;  // per card, the last record found left behind but not verified
};

}  // namespace

std::unique_ptr<HostCards> in_process_cards() { return std::make_unique<InProcessCards>(); }

std::unique_ptr<HostCards> lock_file_cards(LockFolder folder, bool reclaim_left_behind) {
  return std::make_unique<LockFileCards>(std::move(folder), reclaim_left_behind);
}

}  // namespace hardware_e2e
