// A card's verdict as the history keeps it: the run's own, made suspect also
// by what the build's recent runs on this host saw of the card.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "harness/src/lib.hpp"
#include "zlu-history/src/queries.hpp"

namespace hardware_e2e {

struct StoredCardVerdict {
  std::int64_t card = 0;
  std::string verdict;   // "healthy", "suspect" or "quarantined"
  std::string evidence;  // JSON array of {test, passed_on}, by test
};

// A verdict for each card the run judged, in the run's order: its evidence
// is the run's and the recent runs', each test once (the run's card first);
// a card the run found healthy is suspect when the recent runs hold
// evidence against it. A card the run did not judge is left out.
std::vector<StoredCardVerdict> stored_verdicts(std::span<const harness::CardVerdict> run,
                                               std::span<const zlu_history::HistoryEvidence> recent);

}  // namespace hardware_e2e
