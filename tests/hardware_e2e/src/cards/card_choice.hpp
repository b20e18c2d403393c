// Which card a test is granted. The policy is a plain class over the pool's
// cards and what this process knows of them; what the host knows (lock
// files, their holder records, runners left behind) sits behind HostCards,
// so that the policy reads, and is tested, without files or processes.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace hardware_e2e {

enum class ExclusionReason {
  failed_by_this_test,  // an earlier try of the asking test failed on it
};

struct Exclusion {
  // A card the asking attempt would rather not be granted, and why.

  unsigned card;
  ExclusionReason why;
};

class HostCards {
  // The host-wide side of taking a card: one call per card tried, made
  // under the pool's lock, so that an implementation needs none of its own
  // for what it keeps between calls.

 public:
  struct Taken {
    // The card is ours on the host too, for as long as `lock_fd` stays open
    // here or in a runner that inherited it.

    int lock_fd = -1;  // -1 without host-wide locks
    off_t group_offset = 0;  // of the runner group field in the holder record
  };

  struct Held {
    // Someone else on the host has the card.

    std::string news;
    // The line to tell a waiting user, or empty when there is nothing new to
    // tell (the holder is this process, between a runner's fork and exec).
  };

  class Reclaim {
    // A card kept locked by what an ended holder left behind, found and
    // verified; dropping it without take_back() leaves everything as it is.

   public:
    virtual ~Reclaim() = default;
    virtual std::string announcement() const = 0;
    // The line telling the user what is about to be stopped and why.
    virtual void take_back() = 0;
    // Stops what keeps the card locked, saying so on standard error; may
    // take a grace period, so it is called without the pool's lock.
  };

  struct Unusable {
    // The card's lock file can no longer be used.

    std::string why;
  };

  struct Quarantined {
    // The card has a quarantine record on the host (see quarantine.hpp):
    // no suite takes it until the record is removed.
  };

  using Outcome = std::variant<Taken, Held, std::unique_ptr<Reclaim>, Unusable, Quarantined>;

  virtual ~HostCards() = default;

  virtual std::expected<void, std::string> check(std::span<const unsigned> cards) const = 0;
  // Whether every card's host-wide lock can be used, tried once before any
  // runner starts; the error names the first one that cannot.

  virtual Outcome try_take(unsigned card, bool look_for_reclaim) = 0;
  // Takes `card` on the host without waiting. Only with `look_for_reclaim`
  // may a held card come back as a Reclaim.

  virtual void give_back(const Taken& taken) = 0;
  // Lets go of a card taken here; a runner that inherited its lock keeps
  // it locked while it lives.
};

class CardChoice {
  // The pool's cards, in their order, each free, lent to a test of this
  // process, being taken back from what an ended suite left behind, or
  // quarantined. A test is granted the first free card it does not exclude
  // that the host lets it take. It waits for one rather than take a card it
  // excludes while any card it does not exclude may still be granted: a
  // retry that ran again on the card it failed on could not tell a fault
  // that follows the card from one that follows the test. Only when every
  // card still in use is excluded is the first free excluded one granted.
  // Not synchronised: the pool calls it under its lock.

 public:
  explicit CardChoice(std::vector<unsigned> cards);

  struct Granted {
    unsigned card;
    HostCards::Taken lock;
  };

  struct TakeBack {
    // No card was granted, and `card` is to be taken back first: it stays
    // out of every choice until reclaimed() is called.

    unsigned card;
    std::unique_ptr<HostCards::Reclaim> reclaim;
  };

  struct Unavailable {
    // Every card is lent here, held on the host or being taken back.

    bool held_on_host = false;
    // Whether any is held by another process or being taken back, which no
    // release of this process announces.
    std::string news;  // the first line a waiting user should read, if any
  };

  struct AllQuarantined {
    // Every card of the pool is quarantined, in this run or on the host:
    // nothing is left to wait for.

    std::vector<unsigned> cards;
  };

  using Outcome = std::variant<Granted, TakeBack, Unavailable, HostCards::Unusable, AllQuarantined>;

  Outcome choose(std::span<const Exclusion> exclusions, HostCards& host);
  // One pass over the cards in the order of preference. A card found left
  // behind is taken back only when no card can be granted.

  void quarantine(unsigned card);
  // Grants `card` no more in this run; a test holding it keeps it.

  void release(unsigned card);
  // The card's test is done with it.

  void reclaimed(unsigned card);
  // Taking `card` back has ended, whether or not it succeeded.

  const std::vector<unsigned>& cards() const { return cards_; }

 private:
  enum class State { free, lent, reclaiming };
  std::size_t index_of(unsigned card) const;
  bool quarantined(std::size_t i) const { return quarantined_here_[i] || quarantined_on_host_[i]; }
  std::vector<unsigned> cards_;
  std::vector<State> states_;
  std::vector<bool> quarantined_here_;
  std::vector<bool> quarantined_on_host_;  // as the host last said
};

}  // namespace hardware_e2e
