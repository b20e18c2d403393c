// The table of subcommands. A new subcommand is one entry here and a file of
// its own beside the others of its family.
#include <array>

#include <fmt/format.h>

#include "command.hpp"
#include "subcommands.hpp"
#include "zlu-base/src/fd.hpp"

namespace zlu_e2e {

namespace {

constexpr std::array COMMANDS = {
    Command{"runs", "[--limit N]", "the latest runs (20 unless --limit) with their counts", run_runs},
    Command{"show", "RUN", "the attempts of RUN (its id, or the start of it)", run_show},
    Command{"failures", "", "what did not pass in the latest run", run_failures},
    Command{"flaky", "[--since WHEN]",
            "tests that both failed and passed on one build, with rates by host and card", run_flaky},
    Command{"cards", "[--since WHEN]",
            "each card's state in the lock folder; with a history, its failures against the other cards'", run_cards},
    Command{"quarantine", "N --reason TEXT", "keeps every suite on this host off card N until it is released",
            run_quarantine},
    Command{"release", "N", "removes card N's quarantine record", run_release},
    Command{"cycles", "TEST [--limit N]",
            "TEST's cycles per step kind and span in its latest recorded tries (20 unless --limit)", run_cycles},
    Command{"export", "[--jsonl | --csv]", "every attempt, as JSON lines (the default) or CSV", run_export},
    Command{"record-missing", "TASK ...",
            "records a batch task that left no report as a run that never ended", run_record_missing},
    Command{"report", "-o FILE INPUTS", "one HTML page of a run or a fleet job (its inputs: zlu-e2e report)", run_report},
};

}  // namespace

std::span<const Command> commands() { return COMMANDS; }

std::string usage_text() {
  std::string text =
      "Usage: zlu-e2e [--history STORE] [--json] COMMAND [ARGS]\n"
      "\n"
      "Reads the run history the test suite records (ZLU_TEST_HISTORY) and the\n"
      "cards' lock folder (ZLU_TEST_LOCK_DIR, default /tmp/zlu-card-locks).\n"
      "\n"
      "Options:\n"
      "  --history STORE  the history: an SQLite file or a postgresql:// URL\n"
      "                   (default: the value of ZLU_TEST_HISTORY)\n"
      "  --json           JSON for scripts instead of text\n"
      "  -h, --help       this text\n"
      "\n"
      "Commands:\n";
  for (const auto& command : COMMANDS) {
    const std::string head = command.arguments.empty() ? std::string(command.name)
                                                       : fmt::format("{} {}", command.name, command.arguments);
    text += fmt::format("  {:<26} {}\n", head, command.summary);
  }
  text +=
      "\n"
      "WHEN is a span back from now (7d, 12h, 30m) or a UTC date (2026-01-31).\n"
      "Exit status: 0 done, 2 a usage error or a history or lock folder that\n"
      "cannot be used.\n";
  return text;
}

int usage_error(std::string_view message) {
  zlu_base::write_stderr_line(fmt::format("zlu-e2e: {}", message));
  zlu_base::write_stderr_line("Try 'zlu-e2e --help' for the commands.");
  return USAGE_OR_STORE_ERROR;
}

}  // namespace zlu_e2e
