// record-missing: a batch task that died before it recorded itself, written
// into the history by the job's merge step as a run that never ended.
#include <algorithm>
#include <map>

#include <fmt/format.h>

#include "subcommands.hpp"
#include "tool.hpp"
#include "zlu-history/src/location.hpp"
#include "zlu-history/src/store.hpp"

namespace zlu_e2e {

namespace {

constexpr const char* RECORD_MISSING_USAGE =
    "record-missing takes TASK [--partition KIND:K/N] [--host HOST] [--cards CARDS] [-- TEST...]";

bool one_printable_line(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f; });
}

// The run of the task the arguments name, or the usage error to show.
std::expected<zlu_history::RunRecord, std::string> missing_run(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty() || args[0].starts_with("-")) return std::unexpected(std::string(RECORD_MISSING_USAGE));
  // The task's suite never said which build it was.
  zlu_history::RunRecord run;
  run.run_id = "missing-" + args[0];
  run.started = now_micros();
  run.build_id = "unknown";
  run.task = args[0];
  const std::map<std::string_view, std::string*> options = {
      {"--partition", &run.partition}, {"--host", &run.host}, {"--cards", &run.cards}};
  std::size_t at = 1;
  for (; at < args.size() && args[at] != "--"; at += 2) {
    const auto option = options.find(args[at]);
    if (option == options.end() || at + 1 == args.size()) return std::unexpected(std::string(RECORD_MISSING_USAGE));
    *option->second = args[at + 1];
  }
  if (at < args.size()) run.planned.assign(args.begin() + static_cast<std::ptrdiff_t>(at) + 1, args.end());
  for (const std::string* text : {&run.task, &run.partition, &run.host, &run.cards}) {
    if (!one_printable_line(*text)) return std::unexpected(fmt::format("record-missing: {:?} is not one line", *text));
  }
  for (const auto& test : run.planned) {
    if (test.empty() || !one_printable_line(test))
      return std::unexpected(fmt::format("record-missing: test {:?} is not a test name", test));
  }
  return run;
}

}  // namespace

int run_record_missing(const Invocation& invocation) {
  auto run = missing_run(invocation.args);
  if (!run) return usage_error(run.error());
  if (!invocation.history)
    return store_error(fmt::format("no history: give --history or set {}", zlu_history::HISTORY_VARIABLE));
  auto location = zlu_history::parse_location(*invocation.history, invocation.history_source);
  if (!location) return store_error(location.error());
  auto db = zlu_history::open_store(*location, zlu_history::Purpose::Record);
  if (!db) return store_error(db.error());
  auto written = zlu_history::record_unfinished_run(**db, *run);
  if (!written) return store_error(fmt::format("history {}: {}", *invocation.history, written.error()));
  const std::string text = *written ? fmt::format("task {}: recorded as unfinished, {} tests never ended\n",
                                                  run->task, run->planned.size())
                                    : fmt::format("task {}: already in the history\n", run->task);
  return write_out(text) ? 0 : store_error("standard output cannot be written");
}

}  // namespace zlu_e2e
