// ZLU_SIM_FAULT: deliberate misbehaviour of a runner, for testing the failure
// paths of the test executable against real processes.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card.hpp"
#include "contract.hpp"
#include "environment.hpp"
#include "outcome.hpp"

namespace zlu_runner {

inline constexpr std::string_view SIM_FAULT_VARIABLE = zlu_contract::SIM_FAULT;

struct FaultPlan {
  // The items of ZLU_SIM_FAULT that name one runner, in order.

  // `exit=N`: exit with code N (0 to 255) before doing anything.
  std::optional<int> exit_code;
  // `signal=S`: kill the runner with signal S (by number, 1 to 64, one whose
  // default action ends the process: not a stop or ignored signal).
  std::optional<int> signal;
  // `slow-exchange=N`: the card model's exchange steps take N percent more
  // cycles (0 to 1000); every runner knows it.
  std::optional<std::uint32_t> exchange_slowdown_percent;
  // The runner's own actions (e.g. "profile-tiles=3"), in order.
  std::vector<std::string> runner_actions;
  // Which of exit_code and signal came first, when both are given.
  bool signal_first = false;
};

// Tells whether `action` is one of the runner's own actions.
using ActionFilter = std::function<bool(std::string_view action)>;

// Parses `value` (comma-separated `runner:action` items; empty for none) for
// `runner`. Items
// naming other runners are skipped, though each item must still have the
// form `runner:action`. An unknown action for this runner, a malformed
// `exit=`/`signal=` or an empty item is a configuration error naming
// ZLU_SIM_FAULT and the value.
std::expected<FaultPlan, Failure> parse_sim_fault(std::string_view runner, std::string_view value,
                                                  const ActionFilter& runner_accepts);

// Carries out exit_code or signal (whichever came first) and does not return
// if either is set; a signal is raised with its default disposition restored.
void apply_process_faults(const FaultPlan& plan);

struct SimFaults {
  // What is left of a FaultPlan once exit and signal are carried out: the
  // runner's own actions and the faults of the card it builds.

  std::vector<std::string> runner_actions;
  zlu_card::CardFaults card;
};

// The options of the card a runner with `faults` builds.
zlu_card::CardOptions card_options(const SimFaults& faults);

// The first thing a runner's main does: reads ZLU_SIM_FAULT through `env`,
// carries out exit/signal, and returns the rest. A configuration error is
// returned for main to finish with.
std::expected<SimFaults, Failure> take_sim_faults(std::string_view runner, const EnvLookup& env,
                                                  const ActionFilter& runner_accepts);

}  // namespace zlu_runner
