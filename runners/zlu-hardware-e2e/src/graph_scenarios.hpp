// The graph scenarios of the hardware runner: each moves or computes data on
// the card and checks the result against a reference computed on the host.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string_view>

#include "card.hpp"
#include "runner.hpp"

namespace zlu_graph {

inline constexpr std::string_view RUNNER = zlu_contract::GRAPH_RUNNER;
inline constexpr std::string_view SCENARIO_VARIABLE = zlu_contract::GRAPH_TEST;

enum class GraphScenario {
  Fanout,
  Reduction,
  Permutation,
  ReductionPermutation,
  Multicast,
  CompilerSegmentedAdd,
};

struct ScenarioName {
  // A scenario and its ZLU_GRAPH_TEST name.

  GraphScenario scenario;
  std::string_view name;
};

// Every scenario, in the order they are documented.
inline constexpr std::array<ScenarioName, 6> SCENARIOS{{
    {GraphScenario::Fanout, "fanout"},
    {GraphScenario::Reduction, "reduction"},
    {GraphScenario::Permutation, "permutation"},
    {GraphScenario::ReductionPermutation, "reduction-permutation"},
    {GraphScenario::Multicast, "multicast"},
    {GraphScenario::CompilerSegmentedAdd, "compiler-segmented-add"},
}};

std::string_view scenario_name(GraphScenario scenario);

// The runner's configuration: ZLU_GRAPH_TEST, required, one of SCENARIOS.
std::expected<GraphScenario, zlu_runner::Failure> read_graph_scenario(const zlu_runner::EnvLookup& env);

// Runs one scenario on `card` (a fresh card) and checks it; the summary
// names the scenario, the tiles it used, the bytes moved and the cycles.
zlu_runner::Outcome run_graph_scenario(GraphScenario scenario, zlu_card::Card& card);

// The scenarios one by one, for tests that run them on a broken card.
zlu_runner::Outcome run_fanout(zlu_card::Card& card);
zlu_runner::Outcome run_reduction(zlu_card::Card& card);
zlu_runner::Outcome run_permutation(zlu_card::Card& card);
zlu_runner::Outcome run_reduction_permutation(zlu_card::Card& card);
zlu_runner::Outcome run_multicast(zlu_card::Card& card);
zlu_runner::Outcome run_compiler_segmented_add(zlu_card::Card& card);

}  // namespace zlu_graph
