// What ZLU_TEST_QUARANTINE=on does with a card the run finds suspect: the
// pool grants it no more, and its record in the lock folder keeps every
// suite on the host off it until it is released.
#pragma once

#include "cards/card_lock.hpp"
#include "cards/device.hpp"
#include "harness/src/lib.hpp"

namespace hardware_e2e {

inline constexpr std::string_view SUSPECT_REASON = "failed tests that passed on other cards";

harness::CardHealthWatch quarantine_watch(CardPool& pool, LockFolder folder);
// The watch the run reports card health through; each time a card's
// evidence grows its record is written again, with all of it.

}  // namespace hardware_e2e
