#include "run_data.hpp"

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace report_page {

namespace {

using nlohmann::json;

std::uint32_t index_of(std::vector<std::string>& names, std::string_view name) {
  const auto found = std::find(names.begin(), names.end(), name);
  if (found != names.end()) return static_cast<std::uint32_t>(found - names.begin());
  names.emplace_back(name);
  return static_cast<std::uint32_t>(names.size() - 1);
}

std::string string_field(const json& event, const char* key) {
  const auto found = event.find(key);
  return found != event.end() && found->is_string() ? found->get<std::string>() : std::string{};
}

double seconds_as_ms(const json& event, const char* key) {
  const auto found = event.find(key);
  return found != event.end() && found->is_number() ? found->get<double>() * 1000.0 : -1.0;
}

// The test's own output followed by each runner's, as the failures block shows them.
std::string output_of(const json& event) {
  std::string output = string_field(event, "stdout");
  const auto runners = event.find("runner_output");
  if (runners == event.end() || !runners->is_array()) return output;
  for (const json& runner : *runners) {
    if (!runner.is_object()) continue;
    if (!output.empty() && output.back() != '\n') output += '\n';
    output += fmt::format("--- {}{} ---\n", string_field(runner, "program"),
                          runner.value("cut", false) ? " (cut)" : "");
    output += string_field(runner, "text");
  }
  return output;
}

std::int32_t card_of(const json& event) {
  const auto properties = event.find("properties");
  if (properties == event.end() || !properties->is_object()) return -1;
  const std::string card = string_field(*properties, "card");
  if (card.empty() || card.size() > 6 || !std::all_of(card.begin(), card.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  return std::stoi(card);
}

// A card's verdict line: its state, and the tests that failed on it and
// passed on another card as its evidence.
void add_card_verdict(RunData& data, const json& event, std::uint32_t host) {
  const auto card = event.find("card");
  if (card == event.end() || !card->is_number_unsigned()) return;
  std::string reason = string_field(event, "message");
  if (const auto evidence = event.find("evidence"); evidence != event.end() && evidence->is_array()) {
    for (const json& item : *evidence) {
      if (!item.is_object()) continue;
      if (!reason.empty()) reason += "; ";
      const auto recent = item.find("recent");
      reason += fmt::format("failed {}, which passed on card {}{}", string_field(item, "test"),
                            item.value("passed_on", 0u),
                            recent != item.end() && *recent == true ? " in a recent run" : "");
    }
  }
  const std::string state = string_field(event, "event");
  if (state == "healthy") return;
  data.cards.push_back({host, card->get<std::int32_t>(), state, reason});
}

// The cycle changes a test's message or improvement lists, one per line:
// "exchange cycles 117760 -> 129536 (+10.0%, allowed +0%)".
void add_cycle_changes(RunData& data, std::uint32_t test, std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    const std::string line(text.substr(begin, end - begin));
    begin = end + 1;
    char kind[32] = {};
    unsigned long long before = 0;
    unsigned long long after = 0;
    if (std::sscanf(line.c_str(), " %31[a-z] cycles %llu -> %llu", kind, &before, &after) == 3)
      data.cycles.push_back({test, kind, before, after});
  }
}

struct Pending {
  // A test that started on a host and has not reported a result yet.
  std::uint32_t test;
  std::uint32_t tries_failed = 0;
};

}  // namespace

std::uint32_t RunData::test_index(std::string_view name) { return index_of(tests, name); }

std::uint32_t RunData::host_index(std::string_view name) { return index_of(hosts, name); }

std::expected<void, std::string> add_events(RunData& data, std::string_view text, std::string_view host_name) {
  const std::uint32_t host = data.host_index(host_name);
  std::map<std::string, Pending> running;
  std::set<std::uint32_t> seen;
  std::uint64_t test_count = 0;
  std::size_t line_number = 0;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    const std::string_view line = text.substr(begin, end - begin);
    begin = end + 1;
    ++line_number;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    json event = json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object() || !event.contains("type") || !event.contains("event"))
      return std::unexpected(fmt::format("line {} is not an event of the suite", line_number));
    if (event["type"] == "card") {
      add_card_verdict(data, event, host);
      continue;
    }
    if (event["type"] != "test") {
      if (event["type"] == "suite" && event["event"] == "started") test_count = event.value("test_count", 0u);
      continue;
    }
    const std::string name = string_field(event, "name");
    const std::string kind = string_field(event, "event");
    if (name.empty()) return std::unexpected(fmt::format("line {}: a test event without a name", line_number));
    const std::uint32_t test = data.test_index(name);
    seen.insert(test);
    if (kind == "started" || kind == "still_running") {
      running.try_emplace(name, Pending{test});
      continue;
    }
    Attempt attempt{.test = test, .host = host};
    attempt.message = string_field(event, "message");
    if (attempt.message.empty()) attempt.message = string_field(event, "reason");
    attempt.output = output_of(event);
    attempt.duration_ms = seconds_as_ms(event, "exec_time");
    if (kind == "try_failed") {
      attempt.outcome = Outcome::TryFailed;
      attempt.try_number = event.value("try", 1u);
      ++running[name].tries_failed;
    } else if (kind == "ok" || kind == "failed" || kind == "ignored" || kind == "bench") {
      attempt.outcome = kind == "failed" ? Outcome::Failed : kind == "ignored" ? Outcome::Ignored : Outcome::Passed;
      attempt.try_number = event.value("tries", 1u);
      attempt.flaky = event.value("flaky", false);
      attempt.card = card_of(event);
      if (const auto fault = event.find("card_fault"); fault != event.end() && fault->is_number_unsigned())
        attempt.message = fmt::format("its failed tries were card {}'s, not the software's", fault->get<unsigned>());
      add_cycle_changes(data, test, attempt.message);
      add_cycle_changes(data, test, string_field(event, "cycle_changes"));
      running.erase(name);
    } else {
      return std::unexpected(fmt::format("line {}: unknown test event \"{}\"", line_number, kind));
    }
    data.attempts.push_back(std::move(attempt));
  }
  // A run that was killed leaves tests that started and never ended.
  for (const auto& [name, pending] : running) {
    Attempt attempt{.test = pending.test, .host = host, .try_number = pending.tries_failed + 1,
                    .outcome = Outcome::NoReport};
    attempt.message = "started and never finished: the run ended before its result";
    data.attempts.push_back(std::move(attempt));
  }
  // Tests the run selected and never started leave no event of their own.
  if (test_count > seen.size()) {
    const auto missing = test_count - seen.size();
    Attempt attempt{.test = data.test_index(fmt::format("({} of {} tests on {} never started)", missing, test_count,
                                                        host_name)),
                    .host = host, .outcome = Outcome::NoReport};
    attempt.message = "the run ended before they started";
    data.attempts.push_back(std::move(attempt));
  }
  return {};
}

std::expected<void, std::string> add_timeline(RunData& data, std::string_view text, std::string_view host_name) {
  const json trace = json::parse(text, nullptr, false);
  if (trace.is_discarded() || !trace.is_object() || !trace.contains("traceEvents") || !trace["traceEvents"].is_array())
    return std::unexpected("not a timeline of the suite (a JSON object with traceEvents)");
  const std::uint32_t host = data.host_index(host_name);
  // Each try of a test on this host, by name and try number.
  std::map<std::pair<std::string_view, std::uint32_t>, Attempt*> tries;
  for (Attempt& attempt : data.attempts) {
    if (attempt.host == host) tries[{data.tests[attempt.test], attempt.try_number}] = &attempt;
  }
  // A try's worker, start and length come from its run span; its card from
  // the first card span.
  for (const json& span : trace["traceEvents"]) {
    if (!span.is_object() || span.value("ph", "") != "X" || !span.contains("ts") || !span["ts"].is_number()) continue;
    const std::string category = span.value("cat", "");
    if (category != "run" && category != "runner") continue;
    std::string name = span.value("name", "");
    std::uint32_t try_number = 1;
    if (const auto args = span.find("args"); args != span.end() && args->is_object() && args->contains("try") &&
                                             (*args)["try"].is_number_unsigned()) {
      try_number = (*args)["try"].get<std::uint32_t>();
      if (const auto suffix = name.rfind(" (try "); suffix != std::string::npos) name.resize(suffix);
    }
    const auto found = tries.find({name, try_number});
    if (found == tries.end()) continue;
    Attempt& attempt = *found->second;
    if (category == "run") {
      attempt.worker = span.value("tid", -1);
      attempt.start_ms = span["ts"].get<double>() / 1000.0;
      attempt.duration_ms = span.value("dur", 0.0) / 1000.0;
    } else if (attempt.card < 0) {
      attempt.card = span.value("tid", -1);
    }
  }
  return {};
}

std::expected<std::string, std::string> read_text_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::unexpected(fmt::format("{}: cannot be read", path.string()));
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad()) return std::unexpected(fmt::format("{}: read failed", path.string()));
  return contents.str();
}

namespace {

// The value of `key=` in a task's env file, or empty.
std::string env_value(std::string_view text, std::string_view key) {
  std::istringstream lines{std::string(text)};
  std::string line;
  std::string value;
  while (std::getline(lines, line)) {
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
      value = line.substr(key.size() + 1);
  }
  return value;
}

}  // namespace

std::expected<void, std::string> add_job_dir(RunData& data, const std::filesystem::path& dir) {
  std::error_code error;
  if (!std::filesystem::is_directory(dir, error))
    return std::unexpected(fmt::format("{}: not a job folder", dir.string()));
  std::vector<std::pair<unsigned, std::filesystem::path>> tasks;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string file = entry.path().filename().string();
    unsigned index = 0;
    if (file.starts_with("task-") && file.ends_with(".env") &&
        std::sscanf(file.c_str(), "task-%u.env", &index) == 1)
      tasks.emplace_back(index, entry.path());
  }
  if (error) return std::unexpected(fmt::format("{}: {}", dir.string(), error.message()));
  if (tasks.empty()) return std::unexpected(fmt::format("{}: no task-K.env of a fleet task", dir.string()));
  std::sort(tasks.begin(), tasks.end());
  data.title = fmt::format("job {}", dir.filename().string());
  for (const auto& [index, env_path] : tasks) {
    const auto env = read_text_file(env_path);
    if (!env) return std::unexpected(env.error());
    std::string host = env_value(*env, "host");
    if (host.empty()) host = fmt::format("task {}", index);
    const auto events_path = dir / fmt::format("task-{}.events.json", index);
    const auto events = read_text_file(events_path);
    if (!events) {
      const std::string status = env_value(*env, "status");
      Attempt attempt{.test = data.test_index(fmt::format("(task {})", index)), .host = data.host_index(host),
                      .outcome = Outcome::NoReport};
      attempt.message = status.empty() ? fmt::format("task {} left no events and no status: it never ended", index)
                                       : fmt::format("task {} left no events; it ended with status {}", index, status);
      data.attempts.push_back(std::move(attempt));
      continue;
    }
    if (auto added = add_events(data, *events, host); !added)
      return std::unexpected(fmt::format("{}: {}", events_path.string(), added.error()));
    if (env_value(*env, "status").empty()) {
      Attempt attempt{.test = data.test_index(fmt::format("(task {})", index)), .host = data.host_index(host),
                      .outcome = Outcome::NoReport};
      attempt.message = fmt::format("task {} never ended: it left events but no exit status", index);
      data.attempts.push_back(std::move(attempt));
    }
    const auto timeline_path = dir / fmt::format("task-{}.timeline.json", index);
    if (std::filesystem::exists(timeline_path, error)) {
      const auto timeline = read_text_file(timeline_path);
      if (!timeline) return std::unexpected(timeline.error());
      if (auto added = add_timeline(data, *timeline, host); !added)
        return std::unexpected(fmt::format("{}: {}", timeline_path.string(), added.error()));
    }
  }
  return {};
}

}  // namespace report_page
