// zlu-profile: looks at a cycle profile written by the GEMM runner.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "check.hpp"
#include "diff.hpp"
#include "load.hpp"
#include "output.hpp"
#include "summary.hpp"
#include "svg.hpp"
#include "trace.hpp"
#include "zlu-base/src/fd.hpp"
#include "zlu-base/src/os_error.hpp"

namespace {

// Bad input, an unreadable profile and a failed write all end with 2; a
// failed check ends with 1.
constexpr int EXIT_CHECK_FAILED = 1;
constexpr int EXIT_ERROR = 2;

constexpr std::string_view USAGE =
    "usage: zlu-profile summary FILE [--json]\n"
    "       zlu-profile check FILE\n"
    "       zlu-profile diff OLD NEW [--json]\n"
    "       zlu-profile trace FILE -o OUT.json\n"
    "       zlu-profile svg FILE -o OUT.svg\n"
    "run 'zlu-profile --help' or 'zlu-profile COMMAND --help' for more\n";

int report_error(const std::string& error) {
  zlu_base::write_stderr_line("zlu-profile: " + error);
  return EXIT_ERROR;
}

// Writes `text` to standard output and returns `exit_code`, or reports the
// failed write: output that never arrived is an error, not a result.
int print_then_exit(const std::string& text, int exit_code) {
  if (const int error = zlu_base::write_all(STDOUT_FILENO, text); error != 0) {
    return report_error(fmt::format("standard output: {}", zlu_base::os_error_text(error)));
  }
  return exit_code;
}

int run_summary(const std::string& file, bool json) {
  auto profile = zlu_profile::load_profile(file);
  if (!profile) {
    return report_error(profile.error());
  }
  const zlu_profile::Summary summary = zlu_profile::summarize(profile->report, profile->format_version, file);
  if (json) {
    // File names need not be UTF-8; the replacement keeps the document valid.
    return print_then_exit(
        zlu_profile::summary_json(summary).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n', 0);
  }
  return print_then_exit(zlu_profile::render_summary(summary), 0);
}

int run_check(const std::string& file) {
  auto profile = zlu_profile::load_profile(file);
  if (!profile) {
    return report_error(profile.error());
  }
  if (const auto failure = zlu_profile::check_profile(profile->report)) {
    return print_then_exit(*failure + '\n', EXIT_CHECK_FAILED);
  }
  return print_then_exit(
      fmt::format("{}: all checks hold ({} tiles, clock {} Hz, every tile sampled, all four step kinds)\n", file,
                  profile->report.tiles.size(), profile->report.clock_hz),
      0);
}

int run_diff(const std::string& old_file, const std::string& new_file, bool json) {
  auto old_profile = zlu_profile::load_profile(old_file);
  if (!old_profile) return report_error(old_profile.error());
  auto new_profile = zlu_profile::load_profile(new_file);
  if (!new_profile) return report_error(new_profile.error());
  const zlu_profile::ProfileDiff diff =
      zlu_profile::diff_profiles(zlu_profile::compute_statistics(old_profile->report),
                                 zlu_profile::compute_statistics(new_profile->report), old_file, new_file);
  if (json) {
    return print_then_exit(
        zlu_profile::diff_json(diff).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n', 0);
  }
  return print_then_exit(zlu_profile::render_diff(diff), 0);
}

int run_trace(const std::string& file, const std::string& output) {
  auto profile = zlu_profile::load_profile(file);
  if (!profile) {
    return report_error(profile.error());
  }
  if (profile->report.clock_hz == 0) {
    zlu_base::write_stderr_line(
        fmt::format("zlu-profile: {}: clock is 0 Hz; placing events at {} Hz", file, zlu_profile::FALLBACK_CLOCK_HZ));
  }
  const auto written = zlu_profile::write_output(
      output, [&](std::ostream& out) { zlu_profile::write_trace(profile->report, out); });
  return written ? 0 : report_error(written.error());
}

int run_svg(const std::string& file, const std::string& output) {
  auto profile = zlu_profile::load_profile(file);
  if (!profile) {
    return report_error(profile.error());
  }
  const std::string title = "cycle profile " + std::filesystem::path(file).filename().string();
  const auto written = zlu_profile::write_output(
      output, [&](std::ostream& out) { zlu_profile::write_svg(profile->report, title, out); });
  return written ? 0 : report_error(written.error());
}

}  // namespace

int main(int argc, char** argv) {
  // An output nobody reads any more, or one past the file-size limit, is a
  // failed write (EPIPE, EFBIG) that ends with status 2, not a death by signal
  // that could leave half a file behind.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  CLI::App app{"Looks at a cycle profile of the N700 card.", "zlu-profile"};
  app.require_subcommand(1);
  std::string file;
  std::string new_file;
  std::string output;
  bool json = false;

  CLI::App* summary = app.add_subcommand(
      "summary", "Format version, clock, tiles, samples, cycles per step kind, span, busiest and idlest tiles, "
                 "and what is missing");
  summary->add_option("FILE", file, "Profile file")->required();
  summary->add_flag("--json", json, "Write the summary as one JSON document");

  CLI::App* check = app.add_subcommand(
      "check", "Make the checks of the blocked GEMM test; exit 0 when all hold, 1 when one fails");
  check->add_option("FILE", file, "Profile file")->required();

  CLI::App* diff = app.add_subcommand(
      "diff", "Cycles per step kind and the span of OLD and NEW, and the tiles whose cycles moved most, per kind");
  diff->add_option("OLD", file, "Profile file before the change")->required();
  diff->add_option("NEW", new_file, "Profile file after the change")->required();
  diff->add_flag("--json", json, "Write the diff as one JSON document");

  CLI::App* trace = app.add_subcommand("trace", "Write the profile as a Trace Event Format JSON file");
  trace->add_option("FILE", file, "Profile file")->required();
  trace->add_option("-o,--output", output, "Trace file to write ('-' for standard output)")->required();

  CLI::App* svg = app.add_subcommand("svg", "Draw a timeline of every tile and a map of the card as SVG");
  svg->add_option("FILE", file, "Profile file")->required();
  svg->add_option("-o,--output", output, "SVG file to write ('-' for standard output)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::cerr << "zlu-profile: " << error.what() << '\n' << USAGE;
    return EXIT_ERROR;
  }

  if (summary->parsed()) {
    return run_summary(file, json);
  }
  if (check->parsed()) {
    return run_check(file);
  }
  if (diff->parsed()) {
    return run_diff(file, new_file, json);
  }
  if (trace->parsed()) {
    return run_trace(file, output);
  }
  return run_svg(file, output);
}
