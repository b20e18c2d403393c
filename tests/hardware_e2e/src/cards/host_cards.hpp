// The two kinds of host a card pool can stand on: one where this process is
// the only taker, and one where every process takes a card through its lock
// file in a lock folder.
#pragma once

#include <memory>

#include "cards/card_choice.hpp"
#include "cards/card_lock.hpp"

namespace hardware_e2e {

std::unique_ptr<HostCards> in_process_cards();
// Every card not lent here is ours: nothing to lock, nothing to tell.

std::unique_ptr<HostCards> lock_file_cards(LockFolder folder, bool reclaim_left_behind);
// Cards taken through their lock files in `folder`, recording this process
// as the holder; a card with a quarantine record there is never taken. A card held elsewhere is reported with its holder's record.
// With `reclaim_left_behind`, a card whose lock is kept by a runner group
// that outlived its suite (see card_reclaim.hpp) comes back as a Reclaim.

}  // namespace hardware_e2e
