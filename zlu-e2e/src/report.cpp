// `report`: the report page, with a run of the history among its inputs and
// the history's recent outcomes beside each test.
#include <iostream>

#include <fmt/format.h>

#include "report_command.hpp"
#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-base/src/environment.hpp"
#include "zlu-history/src/run_identity.hpp"

namespace zlu_e2e {

namespace {

report_page::Outcome page_outcome(std::string_view outcome) {
  return outcome == "passed" ? report_page::Outcome::Passed : report_page::Outcome::Failed;
}

// The attempts of `run` as the page shows them: a try that failed before
// another was made is a try failed, and a test that passed after one is flaky.
void add_run(report_page::RunData& data, const zlu_history::RunSummary& run,
             const std::vector<zlu_history::StoredAttempt>& attempts) {
  data.title = fmt::format("run {} on {}", run.run_id.substr(0, 12), run.host);
  std::map<std::string, std::size_t> last_try;
  for (const auto& stored : attempts) {
    report_page::Attempt attempt{.test = data.test_index(stored.test), .host = data.host_index(stored.host)};
    attempt.card = stored.card ? static_cast<std::int32_t>(*stored.card) : -1;
    attempt.try_number = static_cast<std::uint32_t>(stored.try_number);
    attempt.outcome = page_outcome(stored.outcome);
    attempt.start_ms = static_cast<double>(stored.started - run.started) / 1000.0;
    attempt.duration_ms = static_cast<double>(stored.duration) / 1000.0;
    attempt.message = stored.message;
    const auto [at, first] = last_try.try_emplace(stored.test, data.attempts.size());
    if (!first) {
      report_page::Attempt& earlier = data.attempts[at->second];
      if (earlier.outcome == report_page::Outcome::Failed) earlier.outcome = report_page::Outcome::TryFailed;
      if (attempt.outcome == report_page::Outcome::Passed) attempt.flaky = true;
      at->second = data.attempts.size();
    }
    data.attempts.push_back(std::move(attempt));
  }
  for (const std::string& test : run.planned) {
    if (last_try.contains(test)) continue;
    report_page::Attempt attempt{.test = data.test_index(test), .host = data.host_index(run.host),
                                 .outcome = report_page::Outcome::NoReport};
    attempt.message = "planned and never finished: the run ended before it";
    data.attempts.push_back(std::move(attempt));
  }
}

// Each test's outcome in the latest `count` runs, oldest first.
std::expected<void, std::string> add_strips(report_page::RunData& data, zlu_history::Database& db, int count) {
  auto runs = zlu_history::latest_runs(db, count);
  if (!runs) return std::unexpected(runs.error());
  std::vector<std::map<std::string, char>> outcomes;
  for (auto run = runs->rbegin(); run != runs->rend(); ++run) {
    auto attempts = zlu_history::attempts_of_run(db, run->run_id);
    if (!attempts) return std::unexpected(attempts.error());
    auto& of_run = outcomes.emplace_back();
    for (const auto& attempt : *attempts) of_run[attempt.test] = attempt.outcome == "passed" ? 'p' : 'f';
  }
  for (const auto& of_run : outcomes) {
    for (const auto& [test, outcome] : of_run) data.history.try_emplace(test);
  }
  for (auto& [test, strip] : data.history) {
    for (const auto& of_run : outcomes) {
      const auto found = of_run.find(test);
      strip += found == of_run.end() ? 'n' : found->second;
    }
  }
  return {};
}

}  // namespace

int run_report(const Invocation& invocation) {
  std::vector<std::string> args;
  std::optional<std::string> run_id;
  for (std::size_t i = 0; i < invocation.args.size(); ++i) {
    if (invocation.args[i] != "--run") {
      args.push_back(invocation.args[i]);
    } else if (i + 1 == invocation.args.size() || invocation.args[i + 1].empty()) {
      return usage_error("report: --run needs a run id");
    } else {
      run_id = invocation.args[++i];
    }
  }
  report_page::RunData data;
  if (run_id || invocation.history) {
    auto db = open_history(invocation);
    if (!db) return db.error();
    if (run_id) {
      auto run = zlu_history::find_run(**db, *run_id);
      if (!run) return store_error(run.error());
      auto attempts = zlu_history::attempts_of_run(**db, run->run_id);
      if (!attempts) return store_error(attempts.error());
      add_run(data, *run, *attempts);
    }
    if (auto added = add_strips(data, **db, 20); !added) return store_error(added.error());
  }
  // The host the history would record a run of this host under.
  const std::string host = zlu_history::host_name(zlu_base::process_environment());
  return report_page::report_command(args, std::move(data), host, std::cerr);
}

}  // namespace zlu_e2e
