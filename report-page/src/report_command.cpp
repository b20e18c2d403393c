#include "report_command.hpp"

#include <iostream>
#include <optional>

#include <fmt/format.h>

#include "page.hpp"
#include "run_data.hpp"
#include "zlu-base/src/atomic_file.hpp"

namespace report_page {

const char* const report_usage =
    "usage: zlu-e2e [--history STORE] report -o FILE [--events FILE [--timeline FILE] [--host NAME]]...\n"
    "                                  [--job-dir DIR]... [--run ID] [--title TEXT]\n"
    "  -o FILE          the page to write (one HTML file that opens with no network)\n"
    "  --events FILE    a run's JSON event lines (ZLU_TEST_EVENTS, or --format json)\n"
    "  --timeline FILE  that run's timeline (ZLU_TEST_TIMELINE)\n"
    "  --host NAME      the host that run ran on (default: this host)\n"
    "  --job-dir DIR    a fleet job's folder of task reports\n"
    "  --run ID         a run of the history (its id, or the start of it)\n"
    "  --title TEXT     the page's title\n"
    "With a history (--history or ZLU_TEST_HISTORY), each test's outcomes in the\n"
    "latest recorded runs show beside it.\n";

namespace {

struct RunInput {
  // One run given on the command line: its events, timeline and host.
  std::string events;
  std::string timeline;
  std::string host;
};

int usage_error(std::ostream& err, std::string_view what) {
  err << "zlu-e2e report: " << what << "\n" << report_usage;
  return 2;
}

}  // namespace

int report_command(std::span<const std::string> args, RunData data, std::string_view this_host, std::ostream& err) {
  std::optional<std::string> output;
  std::optional<std::string> title;
  std::vector<RunInput> runs;
  std::vector<std::string> job_dirs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (flag == "--help" || flag == "-h") {
      std::cout << report_usage;
      return 0;
    }
    const bool known = flag == "-o" || flag == "--events" || flag == "--timeline" || flag == "--host" ||
                       flag == "--job-dir" || flag == "--title";
    if (!known) return usage_error(err, fmt::format("unknown argument \"{}\"", flag));
    if (i + 1 == args.size() || args[i + 1].empty())
      return usage_error(err, fmt::format("{} needs a non-empty value", flag));
    const std::string& value = args[++i];
    if (flag == "-o") {
      output = value;
    } else if (flag == "--title") {
      title = value;
    } else if (flag == "--job-dir") {
      job_dirs.push_back(value);
    } else if (flag == "--events") {
      runs.push_back({value, "", ""});
    } else if (runs.empty()) {
      return usage_error(err, fmt::format("{} belongs to a run: give --events first", flag));
    } else if (flag == "--timeline") {
      runs.back().timeline = value;
    } else {
      runs.back().host = value;
    }
  }
  if (!output) return usage_error(err, "-o FILE is required");
  if (runs.empty() && job_dirs.empty() && data.attempts.empty())
    return usage_error(err, "nothing to show: give --events, --job-dir or --run");

  for (const RunInput& run : runs) {
    const std::string host = run.host.empty() ? std::string(this_host) : run.host;
    auto events = read_text_file(run.events);
    if (!events) return usage_error(err, events.error());
    if (auto added = add_events(data, *events, host); !added) return usage_error(err, run.events + ": " + added.error());
    if (run.timeline.empty()) continue;
    auto timeline = read_text_file(run.timeline);
    if (!timeline) return usage_error(err, timeline.error());
    if (auto added = add_timeline(data, *timeline, host); !added)
      return usage_error(err, run.timeline + ": " + added.error());
  }
  for (const std::string& dir : job_dirs) {
    if (auto added = add_job_dir(data, dir); !added) return usage_error(err, added.error());
  }
  if (title) data.title = *title;

  auto file = zlu_base::FileReplacer::open(*output);
  if (!file) return usage_error(err, file.error().describe());
  const std::string page = render_page(data);
  if (auto written = file->write(page); !written)
    return usage_error(err, written.error().describe());
  if (auto committed = file->commit(); !committed)
    return usage_error(err, committed.error().describe());
  return 0;
}

}  // namespace report_page
