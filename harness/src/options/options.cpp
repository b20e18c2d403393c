#include "options/options.hpp"

#include <fmt/format.h>

#include "options/command_line.hpp"
#include "zlu-base/src/decimal.hpp"
#include "options/time_options.hpp"
#include "run/worker.hpp"
#include "zlu-base/src/utf8.hpp"
#include "options/help.hpp"

namespace harness {
namespace {

using Check = std::expected<void, std::string>;

std::string gated_flag(std::string_view name) {
  return fmt::format("The \"{}\" flag is only accepted on the nightly compiler with -Z unstable-options", name);
}

// A variable that switches something on: set to anything but "0".
bool switched_on(const EnvLookup& env, std::string_view variable) {
  const auto value = env(std::string(variable));
  return value && *value != "0";
}

std::expected<bool, std::string> unstable_options(const ScannedArgs& args, const EnvLookup& env) {
  const auto value = args.value("Z");
  if (!value) return false;
  if (!env(std::string(BOOTSTRAP_VAR)))
    return std::unexpected("the option `Z` is only accepted on the nightly compiler");
  if (*value != "unstable-options") return std::unexpected("Unrecognized option to `Z`");
  return true;
}

Check gated_flags(const ScannedArgs& args, bool unstable, TestOpts& opts) {
  struct GatedFlag {
    std::string_view name;
    bool* field;  // null for the time flags, which become the time options
  };
  for (const GatedFlag flag : {GatedFlag{"force-run-in-process", &opts.force_run_in_process},
                               GatedFlag{"exclude-should-panic", &opts.exclude_should_panic},
                               GatedFlag{"fail-fast", &opts.fail_fast}, GatedFlag{"report-time", nullptr},
                               GatedFlag{"ensure-time", nullptr}}) {
    if (!args.has(flag.name)) continue;
    if (!unstable) return std::unexpected(gated_flag(flag.name));
    if (flag.field != nullptr) *flag.field = true;
  }
  return {};
}

Check shuffling(const ScannedArgs& args, bool unstable, const EnvLookup& env, TestOpts& opts) {
  if (args.has("shuffle")) {
    if (!unstable) return std::unexpected(gated_flag("shuffle"));
    opts.shuffle = true;
  } else if (unstable) {
    opts.shuffle = switched_on(env, SHUFFLE_VAR);
  }
  if (const auto seed = args.value("shuffle-seed")) {
    if (!unstable)
      return std::unexpected(
          "The \"shuffle-seed\" option is only accepted on the nightly compiler with -Z unstable-options");
    const auto number = zlu_base::parse_decimal_u64(*seed);
    if (!number) return std::unexpected(fmt::format("argument for --shuffle-seed must be a number (error: {})", number.error()));
    opts.shuffle_seed = *number;
  } else if (unstable) {
    if (const auto value = env(std::string(SHUFFLE_SEED_VAR))) {
      const auto number = zlu_base::parse_decimal_u64(*value);
      if (!number) return std::unexpected(fmt::format("{} is `{}`, should be a number.", SHUFFLE_SEED_VAR, *value));
      opts.shuffle_seed = *number;
    }
  }
  return {};
}

Check test_threads(const ScannedArgs& args, TestOpts& opts) {
  const auto value = args.value("test-threads");
  if (!value) return {};
  const auto number = zlu_base::parse_decimal_u64(*value);
  if (!number)
    return std::unexpected(fmt::format("argument for --test-threads must be a number > 0 (error: {})", number.error()));
  if (*number == 0) return std::unexpected("argument for --test-threads must not be 0");
  opts.test_threads = static_cast<std::size_t>(*number);
  return {};
}

Check color(const ScannedArgs& args, TestOpts& opts) {
  const auto value = args.value("color");
  if (!value || *value == "auto") return {};
  if (*value == "always") {
    opts.color = ColorConfig::Always;
  } else if (*value == "never") {
    opts.color = ColorConfig::Never;
  } else {
    return std::unexpected(fmt::format("argument for --color must be auto, always, or never (was {})", *value));
  }
  return {};
}

Check format(const ScannedArgs& args, bool unstable, TestOpts& opts) {
  const auto value = args.value("format");
  if (!value) {
    opts.format = args.has("quiet") ? OutputFormat::Terse : OutputFormat::Pretty;
  } else if (*value == "pretty") {
    opts.format = OutputFormat::Pretty;
  } else if (*value == "terse") {
    opts.format = OutputFormat::Terse;
  } else if (*value == "json" || *value == "junit") {
    if (!unstable)
      return std::unexpected(
          fmt::format("The \"{}\" format is only accepted on the nightly compiler with -Z unstable-options", *value));
    opts.format = *value == "json" ? OutputFormat::Json : OutputFormat::Junit;
  } else {
    return std::unexpected(fmt::format("argument for --format must be pretty, terse, json or junit (was {})", *value));
  }
  return {};
}

Check min_stack(const EnvLookup& env) {
  const auto value = env(std::string(MIN_STACK_VAR));
  if (!value) return {};
  const auto number = zlu_base::parse_decimal_u64(*value);
  if (!number || *number == 0)
    return std::unexpected(fmt::format("{} is `{}`, should be a positive integer.", MIN_STACK_VAR, *value));
  if (!stack_size_can_be_given(static_cast<std::size_t>(*number)))
    return std::unexpected(fmt::format("{} is `{}`, should be a stack size a thread can be given.", MIN_STACK_VAR, *value));
  return {};
}

Check retries(const EnvLookup& env, TestOpts& opts) {
  const auto value = env(std::string(RETRIES_VAR));
  if (!value) return {};
  const auto number = zlu_base::parse_decimal_u64(*value);
  if (!number || *number > MAX_RETRIES)
    return std::unexpected(fmt::format("{} is `{}`, should be a non-negative integer no larger than {}.", RETRIES_VAR,
                                       *value, MAX_RETRIES));
  opts.retries = static_cast<std::size_t>(*number);
  return {};
}

Check runner_output(const EnvLookup& env, TestOpts& opts) {
  const auto value = env(std::string(RUNNER_OUTPUT_VAR));
  if (!value) return {};
  if (*value != "capture")
    return std::unexpected(fmt::format("{} is `{}`, should be `capture` or unset.", RUNNER_OUTPUT_VAR, *value));
  opts.capture_runner_output = true;
  return {};
}

Check events_file(const EnvLookup& env, TestOpts& opts) {
  const auto value = env(std::string(EVENTS_VAR));
  if (!value) return {};
  if (value->empty()) return std::unexpected(fmt::format("{} is ``, should be a file path or unset.", EVENTS_VAR));
  opts.events_file = *value;
  return {};
}

std::expected<ParsedOpts, std::string> validate(const ScannedArgs& args, const EnvLookup& env) {
  ParsedOpts parsed;
  TestOpts& opts = parsed.opts;
  const auto unstable = unstable_options(args, env);
  if (!unstable) return std::unexpected(unstable.error());
  if (auto checked = gated_flags(args, *unstable, opts); !checked) return std::unexpected(checked.error());
  if (args.has("report-time") || args.has("ensure-time")) {
    auto time_options = time_options_from_env(args.has("ensure-time"), env);
    if (!time_options) return std::unexpected(time_options.error());
    opts.time_options = *time_options;
  }
  if (auto checked = shuffling(args, *unstable, env, opts); !checked) return std::unexpected(checked.error());
  if (args.has("include-ignored") && args.has("ignored"))
    return std::unexpected("the options --include-ignored and --ignored are mutually exclusive");
  opts.run_ignored = args.has("include-ignored") ? RunIgnored::Yes
                     : args.has("ignored")       ? RunIgnored::Only
                                                 : RunIgnored::No;
  opts.nocapture = args.has("no-capture") || args.has("nocapture") || switched_on(env, NOCAPTURE_VAR);
  for (auto checked : {test_threads(args, opts), color(args, opts), format(args, *unstable, opts)})
    if (!checked) return std::unexpected(checked.error());
  if (args.has("logfile")) {
    opts.logfile = args.value("logfile");
    parsed.warnings = "warning: `--logfile` is deprecated";
  }
  if (auto checked = min_stack(env); !checked) return std::unexpected(checked.error());
  if (const auto partition = env(std::string(PARTITION_VAR))) {
    auto parsed_partition = parse_partition(*partition);
    if (!parsed_partition) return std::unexpected(parsed_partition.error());
    opts.partition = *parsed_partition;
  }
  if (auto checked = retries(env, opts); !checked) return std::unexpected(checked.error());
  if (auto checked = runner_output(env, opts); !checked) return std::unexpected(checked.error());
  if (auto checked = events_file(env, opts); !checked) return std::unexpected(checked.error());
  auto cycles = parse_cycle_options(env);
  if (!cycles) return std::unexpected(cycles.error());
  opts.cycles = std::move(*cycles);

  opts.list = args.has("list");
  opts.filters = args.filters;
  opts.filter_exact = args.has("exact");
  opts.skip = args.values("skip");
  opts.bench_benchmarks = args.has("bench");
  opts.run_tests = !args.has("bench") || args.has("test");
  opts.show_output = args.has("show-output");
  return parsed;
}

EarlyExit option_error(std::string_view message) { return EarlyExit{101, "", fmt::format("error: {}\n", message)}; }

}  // namespace

std::expected<ParsedOpts, EarlyExit> parse_opts(std::span<const std::string> args, const EnvLookup& env) {
  const auto scanned = scan_args(args.empty() ? args : args.subspan(1));
  if (!scanned) return std::unexpected(option_error(scanned.error()));
  if (scanned->has("help"))
    return std::unexpected(EarlyExit{0, help_text(args.empty() ? "..." : zlu_base::decode_utf8_lossy(args.front())), ""});
  auto parsed = validate(*scanned, env);
  if (!parsed) return std::unexpected(option_error(parsed.error()));
  return std::move(*parsed);
}

}  // namespace harness
