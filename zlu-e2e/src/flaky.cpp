// flaky: tests that both failed and passed on one build.
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-history/src/queries.hpp"

namespace zlu_e2e {

namespace {

std::string card_name(std::int64_t card) { return card < 0 ? std::string("no card") : fmt::format("card {}", card); }

}  // namespace

int run_flaky(const Invocation& invocation) {
  auto since = since_option(invocation.args);
  if (!since) return usage_error(since.error());
  auto db = open_history(invocation);
  if (!db) return db.error();
  auto flaky = zlu_history::flaky_tests(**db, *since);
  if (!flaky) return store_error(fmt::format("history {}: {}", *invocation.history, flaky.error()));
  if (invocation.json) {
    auto list = nlohmann::json::array();
    for (const auto& test : *flaky) {
      auto places = nlohmann::json::array();
      for (const auto& [place, tally] : test.by_host_card) {
        places.push_back({{"host", place.first},
                          {"card", place.second < 0 ? nlohmann::json(nullptr) : nlohmann::json(place.second)},
                          {"attempts", tally.attempts},
                          {"failures", tally.failures}});
      }
      list.push_back({{"test", test.test},
                      {"build_id", test.build_id},
                      {"attempts", test.total.attempts},
                      {"failures", test.total.failures},
                      {"by_host_card", places}});
    }
    return write_json(list);
  }
  std::string text;
  if (flaky->empty()) text = "no flaky test\n";
  for (const auto& test : *flaky) {
    text += fmt::format("{}  build {}: failed {} of {} ({:.1f}%)\n", test.test, test.build_id, test.total.failures,
                        test.total.attempts, failure_percent(test.total));
    for (const auto& [place, tally] : test.by_host_card) {
      text += fmt::format("    {} {}: {} of {} ({:.1f}%)\n", place.first, card_name(place.second), tally.failures,
                          tally.attempts, failure_percent(tally));
    }
  }
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
