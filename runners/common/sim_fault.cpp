#include "sim_fault.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <fmt/format.h>

namespace zlu_runner {
namespace {

constexpr std::uint64_t MAX_SIGNAL = 64;
constexpr std::uint64_t MAX_SLOWDOWN_PERCENT = 1000;

// Whether a signal's default action ends the process. Stop signals would
// leave the parent waiting forever, ignored ones would let the runner carry
// on, and 32 and 33 belong to the C library's threads.
bool ends_process_by_default(std::uint64_t signal) {
  switch (signal) {
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
    case 32:
    case 33: return false;
    default: return signal >= 1 && signal <= MAX_SIGNAL;
  }
}

Failure malformed(std::string_view value, std::string_view item, std::string_view expected) {
  return invalid_value(SIM_FAULT_VARIABLE, value, fmt::format("{} in item \"{}\"", expected, item));
}

}  // namespace

std::expected<FaultPlan, Failure> parse_sim_fault(std::string_view runner, std::string_view value,
                                                  const ActionFilter& runner_accepts) {
  FaultPlan plan;
  // An empty value asks for nothing, like an unset one.
  if (value.empty()) return plan;
  std::string_view rest = value;
  while (true) {
    const auto comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const auto colon = item.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == item.size()) {
      return std::unexpected(malformed(value, item, "comma-separated runner:action items"));
    }
    const std::string_view target = item.substr(0, colon);
    const std::string_view action = item.substr(colon + 1);
    if (target == runner) {
      if (action.starts_with("exit=")) {
        const auto code = parse_unsigned(SIM_FAULT_VARIABLE, action.substr(5), 255, false);
        if (!code) return std::unexpected(malformed(value, item, "exit=N with N from 0 to 255"));
        if (!plan.exit_code) plan.exit_code = static_cast<int>(*code);
      } else if (action.starts_with("signal=")) {
        const auto number = parse_unsigned(SIM_FAULT_VARIABLE, action.substr(7), MAX_SIGNAL, false);
        if (!number || !ends_process_by_default(*number)) {
          return std::unexpected(
              malformed(value, item,
                        fmt::format("signal=S with S from 1 to {} whose default action ends the process", MAX_SIGNAL)));
        }
        if (!plan.exit_code && !plan.signal) plan.signal_first = true;
        if (!plan.signal) plan.signal = static_cast<int>(*number);
      } else if (action.starts_with("slow-exchange=")) {
        const auto percent = parse_unsigned(SIM_FAULT_VARIABLE, action.substr(14), MAX_SLOWDOWN_PERCENT, false);
        if (!percent) {
          return std::unexpected(
              malformed(value, item, fmt::format("slow-exchange=N with N from 0 to {}", MAX_SLOWDOWN_PERCENT)));
        }
        plan.exchange_slowdown_percent = static_cast<std::uint32_t>(*percent);
      } else if (runner_accepts(action)) {
        plan.runner_actions.emplace_back(action);
      } else {
        return std::unexpected(malformed(value, item, fmt::format("an action that {} knows", runner)));
      }
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return plan;
}

void apply_process_faults(const FaultPlan& plan) {
  const auto die_by_signal = [](int signal) {
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    // Only reached if the signal did not end the process after all: the
    // runner must still die of a signal rather than carry on.
    std::raise(SIGKILL);
  };
  if (plan.signal && (plan.signal_first || !plan.exit_code)) die_by_signal(*plan.signal);
  if (plan.exit_code) {
    std::fflush(nullptr);
    std::_Exit(*plan.exit_code);
  }
}

zlu_card::CardOptions card_options(const SimFaults& faults) {
  zlu_card::CardOptions options;
  options.faults = faults.card;
  return options;
}

std::expected<SimFaults, Failure> take_sim_faults(std::string_view runner, const EnvLookup& env,
                                                  const ActionFilter& runner_accepts) {
  const auto value = env(SIM_FAULT_VARIABLE);
  if (!value) return SimFaults{};
  auto plan = parse_sim_fault(runner, *value, runner_accepts);
  if (!plan) return std::unexpected(plan.error());
  apply_process_faults(*plan);
  SimFaults faults{std::move(plan->runner_actions), {}};
  faults.card.exchange_slowdown_percent = plan->exchange_slowdown_percent.value_or(0);
  return faults;
}

}  // namespace zlu_runner
