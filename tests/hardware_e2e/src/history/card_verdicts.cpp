#include "history/card_verdicts.hpp"

#include <map>

#include <nlohmann/json.hpp>

#include "harness/src/run/card_health.hpp"

namespace hardware_e2e {

std::vector<StoredCardVerdict> stored_verdicts(std::span<const harness::CardVerdict> run,
                                               std::span<const zlu_history::HistoryEvidence> recent) {
  std::vector<StoredCardVerdict> stored;
  for (const auto& verdict : run) {
    std::map<std::string, std::int64_t> passed_on;
    for (const auto& evidence : verdict.evidence) passed_on.try_emplace(evidence.test, evidence.passed_on);
    for (const auto& evidence : recent) {
      if (evidence.card == verdict.card) passed_on.try_emplace(evidence.test, evidence.passed_on);
    }
    auto list = nlohmann::json::array();
    for (const auto& [test, card] : passed_on) list.push_back({{"test", test}, {"passed_on", card}});
    const std::string word = verdict.suspect()    ? std::string(harness::card_verdict_word(verdict))
                             : passed_on.empty() ? "healthy"
                                                 : "suspect";
    stored.push_back({verdict.card, word, list.dump()});
  }
  return stored;
}

}  // namespace hardware_e2e
