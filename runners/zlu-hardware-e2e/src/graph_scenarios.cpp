#include "graph_scenarios.hpp"

#include <fmt/format.h>

namespace zlu_graph {

std::string_view scenario_name(GraphScenario scenario) {
  for (const auto& entry : SCENARIOS) {
    if (entry.scenario == scenario) return entry.name;
  }
  return "unknown";
}

std::expected<GraphScenario, zlu_runner::Failure> read_graph_scenario(const zlu_runner::EnvLookup& env) {
  std::string names;
  for (const auto& entry : SCENARIOS) names += fmt::format("{}{}", names.empty() ? "" : ", ", entry.name);
  const auto value = env(SCENARIO_VARIABLE);
  if (!value) {
    return std::unexpected(
        zlu_runner::Failure::config(fmt::format("{} is not set: expected one of {}", SCENARIO_VARIABLE, names)));
  }
  for (const auto& entry : SCENARIOS) {
    if (*value == entry.name) return entry.scenario;
  }
  return std::unexpected(zlu_runner::invalid_value(SCENARIO_VARIABLE, *value, fmt::format("one of {}", names)));
}

zlu_runner::Outcome run_graph_scenario(GraphScenario scenario, zlu_card::Card& card) {
  switch (scenario) {
    case GraphScenario::Fanout: return run_fanout(card);
    case GraphScenario::Reduction: return run_reduction(card);
    case GraphScenario::Permutation: return run_permutation(card);
    case GraphScenario::ReductionPermutation: return run_reduction_permutation(card);
    case GraphScenario::Multicast: return run_multicast(card);
    case GraphScenario::CompilerSegmentedAdd: return run_compiler_segmented_add(card);
  }
  return std::unexpected(zlu_runner::Failure::config("unknown scenario"));
}

}  // namespace zlu_graph
