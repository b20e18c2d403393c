// cards: each card's state in the lock folder, and with a history each
// host and card's failures against the other cards'.
#include <sys/stat.h>

#include <algorithm>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "card_states.hpp"
#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-history/src/queries.hpp"
#include "zlu-history/src/run_identity.hpp"

namespace zlu_e2e {

namespace {

// Adds to `figures` each card a run judged that no attempt ran on (a pool's
// spare card), with no attempts of its own, keeping host and card order.
void with_judged_cards(std::vector<zlu_history::CardFailures>& figures,
                       const std::vector<zlu_history::StoredVerdict>& verdicts) {
  zlu_history::Tally everything;
  for (const auto& card : figures) {
    everything.attempts += card.own.attempts;
    everything.failures += card.own.failures;
  }
  for (const auto& verdict : verdicts) {
    if (std::ranges::none_of(figures, [&](const auto& card) {
          return card.host == verdict.host && card.card == verdict.card;
        }))
      figures.push_back({.host = verdict.host, .card = verdict.card, .own = {}, .others = everything});
  }
  std::ranges::sort(figures, {}, [](const auto& card) { return std::pair(card.host, card.card); });
}

}  // namespace

int run_cards(const Invocation& invocation) {
  auto since = since_option(invocation.args);
  if (!since) return usage_error(since.error());
  const std::string lock_dir = lock_dir_of_environment();
  std::vector<CardState> states;
  // Looking must not create the folder: only a suite or a quarantine does.
  if (struct stat info{}; ::stat(lock_dir.c_str(), &info) == 0) {
    auto folder = hardware_e2e::LockFolder::open(lock_dir, false);
    if (!folder) return store_error(folder.error());
    states = card_states(*folder);
  }
  std::optional<std::vector<zlu_history::CardFailures>> figures;
  std::vector<zlu_history::StoredVerdict> verdicts;
  if (invocation.history) {
    auto db = open_history(invocation);
    if (!db) return db.error();
    auto cards = zlu_history::card_failures(**db, *since);
    if (!cards) return store_error(fmt::format("history {}: {}", *invocation.history, cards.error()));
    figures = std::move(*cards);
    auto latest = zlu_history::latest_card_verdicts(**db);
    if (!latest) return store_error(fmt::format("history {}: {}", *invocation.history, latest.error()));
    verdicts = std::move(*latest);
    with_judged_cards(*figures, verdicts);
  }
  // The latest verdict recorded for a host's card, if any run judged it.
  const auto verdict_of = [&](const zlu_history::CardFailures& card) -> const zlu_history::StoredVerdict* {
    const auto found = std::ranges::find_if(verdicts, [&](const zlu_history::StoredVerdict& verdict) {
      return verdict.host == card.host && verdict.card == card.card;
    });
    return found == verdicts.end() ? nullptr : &*found;
  };
  if (invocation.json) {
    const auto local = card_states_json(states);
    if (!figures) return write_json(local);
    // The history's figures, each of this host's cards with its state beside.
    const std::string host = zlu_history::host_name(zlu_base::process_environment());
    auto list = nlohmann::json::array();
    for (const auto& card : *figures) {
      nlohmann::json entry = {{"host", card.host},
                              {"card", card.card},
                              {"attempts", card.own.attempts},
                              {"failures", card.own.failures},
                              {"other_attempts", card.others.attempts},
                              {"other_failures", card.others.failures}};
      if (const auto* verdict = verdict_of(card)) {
        entry["verdict"] = verdict->verdict;
        entry["verdict_evidence"] = nlohmann::json::parse(verdict->evidence, nullptr, false);
        entry["verdict_run"] = verdict->run_id;
      } else {
        entry["verdict"] = nullptr;
      }
      for (const auto& state : local) {
        if (card.host == host && state["card"] == card.card) entry.update(state);
      }
      list.push_back(std::move(entry));
    }
    return write_json(list);
  }
  std::string text = render_card_states(lock_dir, states);
  if (figures) {
    text += fmt::format("\n{:<16}  {:>4}  {:>9}  {:>8}  {:>7}  {:>7}  {}\n", "HOST", "CARD", "ATTEMPTS", "FAILURES",
                        "RATE", "OTHERS", "LAST VERDICT");
    for (const auto& card : *figures) {
      const auto* verdict = verdict_of(card);
      text += fmt::format("{:<16}  {:>4}  {:>9}  {:>8}  {:>6.1f}%  {:>6.1f}%  {}\n", card.host, card.card,
                          card.own.attempts, card.own.failures, failure_percent(card.own),
                          failure_percent(card.others), verdict ? verdict->verdict : std::string("-"));
    }
  }
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
