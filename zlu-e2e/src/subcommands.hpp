// The subcommands' entry points, one family per file.
#pragma once

#include "command.hpp"

namespace zlu_e2e {

// runs.cpp: runs and what they did.
int run_runs(const Invocation& invocation);
int run_show(const Invocation& invocation);
int run_failures(const Invocation& invocation);

// flaky.cpp
int run_flaky(const Invocation& invocation);

// cards.cpp
int run_cards(const Invocation& invocation);

// quarantine.cpp
int run_quarantine(const Invocation& invocation);
int run_release(const Invocation& invocation);

// cycles.cpp
int run_cycles(const Invocation& invocation);

// export.cpp
int run_export(const Invocation& invocation);

// record_missing.cpp: a batch task that left no record.
int run_record_missing(const Invocation& invocation);

// report.cpp: the report page.
int run_report(const Invocation& invocation);

}  // namespace zlu_e2e
