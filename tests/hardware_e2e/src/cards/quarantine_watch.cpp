#include "cards/quarantine_watch.hpp"

#include <memory>
#include <set>

#include "cards/quarantine.hpp"
#include "harness/src/run/card_health.hpp"
#include "timeline/timeline.hpp"

namespace hardware_e2e {

harness::CardHealthWatch quarantine_watch(CardPool& pool, LockFolder folder) {
  auto shared_folder = std::make_shared<LockFolder>(std::move(folder));
  auto marked = std::make_shared<std::set<unsigned>>();
  // Called on the run loop's thread only: `marked` needs no lock.
  auto quarantine = [&pool, shared_folder, marked](unsigned card, std::span<const harness::CardEvidence> evidence)
      -> std::expected<void, std::string> {
    pool.quarantine(card);
    std::vector<std::string> lines;
    for (const auto& item : evidence) lines.push_back(harness::render_card_evidence(item));
    if (marked->insert(card).second) note_card_quarantined(card, lines);
    return write_quarantine(*shared_folder, new_quarantine(card, std::string(SUSPECT_REASON), std::move(lines)));
  };
  return harness::CardHealthWatch{pool.cards(), std::move(quarantine), {}};
}

}  // namespace hardware_e2e
