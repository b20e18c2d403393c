// Taking back a card from what a suite that ended left behind: a runner
// group whose processes outlived the suite (a runner's children survive the
// death signal that ends the runner) and still keep the card's lock through
// the descriptor the runner inherited. The holder record, which any user of
// the host can write, only says where to look: what is signalled is decided
// from what the kernel shows of the lock and its keepers.
#pragma once

#include <optional>
#include <vector>

#include "cards/card_lock.hpp"
#include "cards/process_table.hpp"

namespace hardware_e2e {

struct LeftBehind {
  // A runner group verified to hold a card's lock on behalf of a holder
  // that has ended.

  pid_t group;
  std::vector<ProcessEntry> members;  // as found when verified
};

bool holder_has_ended(const Holder& holder);
// No process has the holder's id, or the one that has it started at another
// time or has ended unreaped. False for a record without a start time.

bool holder_is_this_process(const Holder& holder);

std::optional<LeftBehind> find_left_behind(int lock_fd, const Holder& holder);
// The recorded runner group when `holder` has ended (no process with its
// id, or one with another start time) and the kernel shows that the group
// alone keeps the lock on the file of `lock_fd` and that whoever took the
// lock has let go of it: every process with a descriptor on the open file
// description that holds the lock is in the group, and none of them is the
// process that took the lock or a child of it. A live suite keeps that
// description open, and is its runner's parent, for as long as the runner
// runs. None in every other case, also when the holder merely cannot be
// told apart from a live one: a live holder is waited for.

void stop_left_behind(int lock_fd, const LeftBehind& left);
// SIGTERM to the group, then, once no member holds the file any more or
// after RUNNER_STOP_GRACE, SIGKILL to what is left of it; returns once
// every member has ended (or after another grace period). Each signal goes
// only while a member found at verification is still in the group, which
// keeps the group id from having passed to anything else.

}  // namespace hardware_e2e
