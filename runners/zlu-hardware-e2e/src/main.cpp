// zlu-hardware-e2e: runs the graph scenario named by ZLU_GRAPH_TEST on the
// card model.
#include "graph_scenarios.hpp"
#include "model_runner.hpp"

int main() {
  return zlu_runner::run_on_model_card(zlu_graph::RUNNER, zlu_graph::read_graph_scenario,
                                       zlu_graph::run_graph_scenario);
}
