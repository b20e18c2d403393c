// The cycle profiles of runners started while the run wants cycle summaries:
// each start gets a profile path of its own in a folder private to the run,
// and what the runner wrote there becomes a summary of the attempt.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "harness/src/lib.hpp"
#include "launch/exit_status.hpp"
#include "zlu-package/src/lib.hpp"

namespace hardware_e2e {

std::string_view card_kind();
// What the runners of this executable drive: "card model" for the runners
// built beside it, "N700" for a runner folder named at configuration.

harness::CycleSummary cycle_summary(const zlu_package::ProfileReport& profile);
// What the card counted in `profile`, as the profile tool's summary ranks it:
// cycles per step kind, the span from the earliest start to the latest end,
// and the tile with the most busy (not idle) cycles, ties going to the lower
// number; card_kind() as what counted them. Zeros for a profile without
// samples.

std::expected<std::optional<std::string>, int> next_profile_path();
// A new profile path for one runner start when the run wants cycle
// summaries, else nothing. The folder is made (mode 0700, with mkdtemp under
// TMPDIR or /tmp) at the first call and holds nothing but the run's
// profiles; the error is the errno of making it.

void collect_profile(const std::string& path, const ExitStatus& status);
// After the runner given `path` has ended: when it succeeded, reads the
// profile it wrote and adds its summary to the current attempt. A runner
// that wrote none leaves the attempt without a summary (the gate reports it
// as having no profile); one that cannot be read is said on the test's
// output. The file is removed either way.

void remove_profile_folder();
// Removes the profile folder and what is left in it, if it was made; once
// no runner can write there any more.

}  // namespace hardware_e2e
