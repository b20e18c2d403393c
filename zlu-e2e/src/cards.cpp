// cards: each host and card's failures against the other cards'.
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-history/src/queries.hpp"

namespace zlu_e2e {

int run_cards(const Invocation& invocation) {
  auto since = since_option(invocation.args);
  if (!since) return usage_error(since.error());
  auto db = open_history(invocation);
  if (!db) return db.error();
  auto cards = zlu_history::card_failures(**db, *since);
  if (!cards) return store_error(fmt::format("history {}: {}", *invocation.history, cards.error()));
  if (invocation.json) {
    auto list = nlohmann::json::array();
    for (const auto& card : *cards) {
      list.push_back({{"host", card.host},
                      {"card", card.card},
                      {"attempts", card.own.attempts},
                      {"failures", card.own.failures},
                      {"other_attempts", card.others.attempts},
                      {"other_failures", card.others.failures}});
    }
    return write_json(list);
  }
  std::string text = fmt::format("{:<16}  {:>4}  {:>9}  {:>8}  {:>7}  {:>7}\n", "HOST", "CARD", "ATTEMPTS", "FAILURES",
                                 "RATE", "OTHERS");
  for (const auto& card : *cards) {
    text += fmt::format("{:<16}  {:>4}  {:>9}  {:>8}  {:>6.1f}%  {:>6.1f}%\n", card.host, card.card, card.own.attempts,
                        card.own.failures, failure_percent(card.own), failure_percent(card.others));
  }
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
