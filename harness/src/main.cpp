#include <csignal>
#include <fmt/format.h>
#include <optional>
#include <unistd.h>

#include "cycles/cycle_gate.hpp"
#include "reports/color.hpp"
#include "reports/events_file.hpp"
#include "reports/console.hpp"
#include "zlu-base/src/decimal.hpp"
#include "run/failure.hpp"
#include "reports/formatter.hpp"
#include "run/interrupt.hpp"
#include "reports/io_error.hpp"
#include "lib.hpp"
#include "reports/logfile.hpp"
#include "options/options.hpp"
#include "run/properties.hpp"
#include "reports/report_stream.hpp"
#include "run/extension.hpp"
#include "run/run_loop.hpp"
#include "options/selection.hpp"
#include "options/shuffle.hpp"
#include "options/environment.hpp"
#include "reports/listing.hpp"

namespace harness {
namespace {

constexpr int failure_status = 101;

// Writes `text` to standard error; the status to end with stays the caller's.
int fail_with(std::string_view text) {
  write_all(2, text);
  return failure_status;
}

// The still-running interval: 60 seconds, shortened by the harness's own
// tests through ZLU_TEST_WARN_AFTER_MS.
std::expected<std::chrono::milliseconds, std::string> warn_after(const EnvLookup& env) {
  constexpr const char* variable = "ZLU_TEST_WARN_AFTER_MS";
  auto value = env(variable);
  if (!value) return std::chrono::milliseconds(std::chrono::seconds(60));
  auto milliseconds = zlu_base::parse_decimal_u64(*value);
  if (!milliseconds || *milliseconds == 0) {
    return std::unexpected(fmt::format("{} is `{}`, should be a positive integer.\n", variable, *value));
  }
  return std::chrono::milliseconds(*milliseconds);
}

Palette palette_for(const TestOpts& opts, const EnvLookup& env) {
  if (!wants_color(opts.color, !opts.nocapture, ::isatty(1) == 1)) return {};
  return load_palette(env("TERM"));
}

// The log file of `--logfile`, none without it, or the message that ends the run.
std::expected<std::optional<LogFile>, std::string> open_log(const TestOpts& opts) {
  if (!opts.logfile) return std::nullopt;
  auto log = LogFile::create(*opts.logfile);
  if (!log) return std::unexpected(log.error());
  return std::optional<LogFile>(std::move(*log));
}

// The program's file name, as the reports that name the suite show it.
std::string executable_name(std::span<const std::string> args) {
  if (args.empty()) return "...";
  const std::string& program = args.front();
  return program.substr(program.find_last_of('/') + 1);
}

int list_tests(const TestOpts& opts, const Selection& selection) {
  auto log = open_log(opts);
  if (!log) return fail_with(log.error());
  const Listing listing = render_list(opts, selection);
  if (const int written = write_all(1, listing.stdout_text); written != 0) return fail_with(io_error_message(written));
  if (*log) {
    (*log)->write(listing.logfile_text);
    if ((*log)->error() != 0) return fail_with(io_error_message((*log)->error()));
  }
  return 0;
}

// The watch a suite installed for its runs, if any.
std::optional<CardHealthWatch>& installed_card_health() {
  static std::optional<CardHealthWatch> watch;
  return watch;
}

int run_main(std::span<const std::string> args, std::span<const TestDescAndFn> tests, RunExtension* extension) {
  // A closed standard output, and a report or log past the file-size limit,
  // must end the run with an io error (EPIPE, EFBIG), not kill it.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  const EnvLookup env = process_environment();

  auto parsed = parse_opts(args, env);
  if (!parsed) {
    if (const int error = write_all(1, parsed.error().stdout_text); error != 0) return fail_with(io_error_message(error));
    write_all(2, parsed.error().stderr_text);
    return parsed.error().status;
  }
  write_all(2, parsed->warnings);
  const TestOpts& opts = parsed->opts;
  set_runner_output_captured(opts.capture_runner_output);
  const auto backtrace = env("ZLU_TEST_BACKTRACE");
  set_backtrace_enabled(backtrace && *backtrace != "0");

  if (opts.list) return list_tests(opts, select_tests(opts, tests));

  auto seed = shuffle_seed(opts);
  if (!seed) return fail_with(seed.error() + "\n");
  // The run shuffles with the seed it reports, whatever its source.
  Selection selection = select_tests(opts, tests);
  if (*seed) shuffle_tests(**seed, selection.tests);

  auto workers = worker_count(opts, env);
  if (!workers) return fail_with(workers.error() + "\n");
  if (extension != nullptr) {
    const std::size_t selected = selection.tests.size();
    auto& card_health = installed_card_health();
    const RunPlan plan{*workers, seed->has_value(), opts.retries, card_health ? &*card_health : nullptr};
    if (auto planned = extension->plan(selection.tests, plan); !planned) return fail_with(planned.error() + "\n");
    selection.filtered_out += selected - std::min(selected, selection.tests.size());
  }
  auto warn_interval = warn_after(env);
  if (!warn_interval) return fail_with(warn_interval.error());

  auto report_fd = claim_report_stream(opts.format);
  if (!report_fd) return fail_with(io_error_message(report_fd.error()));
  ConsoleOutput out(*report_fd, palette_for(opts, env));
  const FormatterSettings settings{*workers > 1, opts.show_output, opts.time_options, executable_name(args)};
  auto formatter = make_formatter(opts.format, out, settings);
  if (!formatter) return fail_with(fmt::format("error: {}\n", formatter.error()));
  FanOut listeners;
  listeners.add(std::move(*formatter));

  auto log = open_log(opts);
  if (!log) return fail_with(log.error());
  if (*log) listeners.add(std::make_unique<LogFormatter>(std::move(**log)));
  if (opts.events_file) {
    auto events = EventsFile::open(*opts.events_file, opts.show_output, settings.executable_name);
    if (!events) return fail_with(events.error());
    listeners.add(std::make_unique<EventsFile>(std::move(*events)));
  }
  if (extension != nullptr) {
    if (auto listener = extension->listener()) listeners.add(std::move(listener));
  }

  // The baseline is read before any test starts: a run that cannot be
  // judged stops here.
  std::optional<CycleGate> cycle_gate;
  if (opts.cycles.active()) {
    auto gate = CycleGate::open(opts.cycles);
    if (!gate) return fail_with(fmt::format("error: {}\n", gate.error()));
    cycle_gate.emplace(std::move(*gate));
    set_cycle_summaries_wanted(true);
  }

  RunConfig config;
  config.execute = ExecuteSettings{!opts.nocapture, opts.time_options, opts.retries,
                                   cycle_gate ? &*cycle_gate : nullptr};
  config.run_tests = opts.run_tests;
  config.fail_fast = opts.fail_fast;
  config.workers = *workers;
  config.stack_size = worker_stack_size(env);
  config.warn_after = *warn_interval;
  config.card_health = installed_card_health();

  install_interrupt_handlers();
  const RunStart start{selection.tests.size(), selection.filtered_out, *seed, new_run_id()};
  auto passed = run_tests(selection.tests, start, config, listeners);
  if (!passed) return fail_with(passed.error());
  if (cycle_gate) {
    if (auto blessed = cycle_gate->bless(); !blessed) return fail_with(fmt::format("error: {}\n", blessed.error()));
  }
  // Interrupted runs end as a shell reports a process the signal ended.
  if (const int signal = interrupt_signal(); signal != 0) return 128 + signal;
  return *passed ? 0 : failure_status;
}

}  // namespace

void watch_card_health(CardHealthWatch watch) { installed_card_health() = std::move(watch); }

int test_main_static(std::span<const std::string> args, std::span<const TestDescAndFn> tests) {
  return run_main(args, tests, nullptr);
}

int test_main_extended(std::span<const std::string> args, std::span<const TestDescAndFn> tests,
                       RunExtension& extension) {
  return run_main(args, tests, &extension);
}

}  // namespace harness
