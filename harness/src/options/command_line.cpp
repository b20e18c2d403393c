#include "options/command_line.hpp"

#include <array>
#include <fmt/format.h>

#include "options/options.hpp"
#include "zlu-base/src/utf8.hpp"

namespace harness {
namespace {

using Lines = std::span<const std::string_view>;

constexpr std::string_view include_ignored[] = {"Run ignored and not ignored tests"};
constexpr std::string_view ignored[] = {"Run only ignored tests"};
constexpr std::string_view force_run_in_process[] = {"Forces tests to run in-process when panic=abort"};
constexpr std::string_view exclude_should_panic[] = {"Excludes tests marked as should_panic"};
constexpr std::string_view test[] = {"Run tests and not benchmarks"};
constexpr std::string_view bench[] = {"Run benchmarks instead of tests"};
constexpr std::string_view list[] = {"List all tests and benchmarks"};
constexpr std::string_view fail_fast[] = {"Don't start new tests after the first failure"};
constexpr std::string_view help[] = {"Display this message"};
constexpr std::string_view logfile[] = {"Write logs to the specified file (deprecated)"};
constexpr std::string_view no_capture[] = {"don't capture stdout/stderr of each task, allow printing directly"};
constexpr std::string_view test_threads[] = {"Number of threads used for running tests in parallel"};
constexpr std::string_view skip[] = {
    "Skip tests whose names contain FILTER (this flag can be used multiple times)"};
constexpr std::string_view quiet[] = {
    "Display one character per test instead of one line. Alias to --format=terse"};
constexpr std::string_view exact[] = {"Exactly match filters rather than by substring"};
constexpr std::string_view color[] = {
    "Configure coloring of output:",
    "    auto   = colorize if stdout is a tty and tests are run on serially (default);",
    "    always = always colorize output;",
    "    never  = never colorize output;",
};
constexpr std::string_view format[] = {
    "Configure formatting of output:",
    "    pretty = Print verbose output;",
    "    terse  = Display one character per test;",
    "    json   = Output a json document;",
    "    junit  = Output a JUnit document",
};
// How the threshold variables are set, shared by both time flags.
constexpr std::string_view threshold_paragraph[] = {
    "Threshold values for colored output can be set per test kind through the environment variables "
    "`ZLU_TEST_TIME_UNIT`, `ZLU_TEST_TIME_INTEGRATION` and `ZLU_TEST_TIME_DOCTEST`.",
    "Each takes the form VARIABLE=WARN_TIME,CRITICAL_TIME with both times in milliseconds: `500,2000` "
    "warns from 0.5 seconds and is critical from 2 seconds.",
};
constexpr std::string_view show_output[] = {"Show captured stdout of successful tests"};
constexpr std::string_view unstable[] = {
    "Enable nightly-only flags:",
    "    unstable-options = Allow use of experimental features",
};
constexpr std::string_view report_time[] = {
    "Show execution time of each test.",
    "",
    threshold_paragraph[0],
    threshold_paragraph[1],
    "",
    "Not available for --format=terse",
};
constexpr std::string_view ensure_time[] = {
    "Treat excess of the test execution time limit as error.",
    "",
    threshold_paragraph[0],
    threshold_paragraph[1],
    "",
    "The critical time is the limit: a test that runs for it or longer fails.",
};
constexpr std::string_view shuffle[] = {"Run tests in random order"};
constexpr std::string_view shuffle_seed[] = {
    "Run tests in random order; seed the random number generator with SEED"};
constexpr std::string_view nocapture[] = {"Deprecated, use `--no-capture`"};

constexpr std::array options{
    OptionSpec{'\0', "include-ignored", "", include_ignored},
    OptionSpec{'\0', "ignored", "", ignored},
    OptionSpec{'\0', "force-run-in-process", "", force_run_in_process},
    OptionSpec{'\0', "exclude-should-panic", "", exclude_should_panic},
    OptionSpec{'\0', "test", "", test},
    OptionSpec{'\0', "bench", "", bench},
    OptionSpec{'\0', "list", "", list},
    OptionSpec{'\0', "fail-fast", "", fail_fast},
    OptionSpec{'h', "help", "", help},
    OptionSpec{'\0', "logfile", "PATH", logfile},
    OptionSpec{'\0', "no-capture", "", no_capture},
    OptionSpec{'\0', "test-threads", "n_threads", test_threads},
    OptionSpec{'\0', "skip", "FILTER", skip, true},
    OptionSpec{'q', "quiet", "", quiet},
    OptionSpec{'\0', "exact", "", exact},
    OptionSpec{'\0', "color", "auto|always|never", color},
    OptionSpec{'\0', "format", "pretty|terse|json|junit", format},
    OptionSpec{'\0', "show-output", "", show_output},
    OptionSpec{'Z', "", "unstable-options", unstable},
    OptionSpec{'\0', "report-time", "", report_time},
    OptionSpec{'\0', "ensure-time", "", ensure_time},
    OptionSpec{'\0', "shuffle", "", shuffle},
    OptionSpec{'\0', "shuffle-seed", "SEED", shuffle_seed},
    OptionSpec{'\0', "nocapture", "", nocapture, false, false},
};

const OptionSpec* find_long(std::string_view name) {
  for (const auto& option : options)
    if (!option.name.empty() && option.name == name) return &option;
  return nullptr;
}

const OptionSpec* find_short(char letter) {
  for (const auto& option : options)
    if (option.letter != '\0' && option.letter == letter) return &option;
  return nullptr;
}

class Occurrences {
  // Collects occurrences, refusing a second one of a non-repeatable option.
  // `written` is the name as the user wrote it, for the message.
 public:
  explicit Occurrences(ScannedArgs& out) : out_(out) {}

  std::expected<void, std::string> add(const OptionSpec& option, std::string_view written, std::string value) {
    auto& values = out_.occurrences[std::string(option.key())];
    if (!values.empty() && !option.repeatable)
      return std::unexpected(fmt::format("Option '{}' given more than once", written));
    values.push_back(std::move(value));
    return {};
  }

 private:
  ScannedArgs& out_;
};

std::string unrecognized(std::string_view name) { return fmt::format("Unrecognized option: '{}'", name); }
std::string missing_argument(std::string_view name) { return fmt::format("Argument to option '{}' missing", name); }

}  // namespace

std::span<const OptionSpec> option_table() { return options; }

std::optional<std::string> ScannedArgs::value(std::string_view key) const {
  const auto found = occurrences.find(key);
  if (found == occurrences.end()) return std::nullopt;
  return found->second.front();
}

std::vector<std::string> ScannedArgs::values(std::string_view key) const {
  const auto found = occurrences.find(key);
  return found == occurrences.end() ? std::vector<std::string>{} : found->second;
}

std::expected<ScannedArgs, std::string> scan_args(std::span<const std::string> args) {
  ScannedArgs scanned;
  Occurrences occurrences(scanned);
  bool options_ended = false;
  for (const std::string& arg : args)
    if (const std::string text = zlu_base::decode_utf8_lossy(arg); text != arg) return std::unexpected(unrecognized(text));
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg == "-" || !arg.starts_with('-')) {
      scanned.filters.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg.starts_with("--")) {
      const std::string_view body = std::string_view(arg).substr(2);
      const auto equals = body.find('=');
      const std::string_view name = body.substr(0, equals);
      const OptionSpec* option = find_long(name);
      if (option == nullptr) return std::unexpected(unrecognized(name));
      std::string value;
      if (equals != std::string_view::npos) {
        if (!option->takes_argument())
          return std::unexpected(fmt::format("Option '{}' does not take an argument", name));
        value = std::string(body.substr(equals + 1));
      } else if (option->takes_argument()) {
        if (i + 1 == args.size()) return std::unexpected(missing_argument(name));
        value = args[++i];
      }
      if (auto added = occurrences.add(*option, name, std::move(value)); !added) return std::unexpected(added.error());
      continue;
    }
    // A group of short options; one that takes an argument takes the rest.
    for (std::size_t at = 1; at < arg.size(); ++at) {
      const char letter = arg[at];
      const std::string_view written(&arg[at], 1);
      const OptionSpec* option = find_short(letter);
      if (option == nullptr) return std::unexpected(unrecognized(written));
      std::string value;
      if (option->takes_argument()) {
        if (at + 1 < arg.size()) {
          value = arg.substr(at + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          return std::unexpected(missing_argument(written));
        }
        at = arg.size();
      }
      if (auto added = occurrences.add(*option, written, std::move(value)); !added) return std::unexpected(added.error());
    }
  }
  return scanned;
}

}  // namespace harness
