// zlu-attention-f16-e2e: FP16 attention over the encoder shapes on the card
// model, checked against a host softmax.
#include <variant>

#include "attention_card.hpp"
#include "model_runner.hpp"

int main() {
  using namespace zlu_attention;
  // The shapes are fixed: the runner reads no scenario of its own.
  const auto no_scenario = [](const zlu_runner::EnvLookup&) -> std::expected<std::monostate, zlu_runner::Failure> {
    return std::monostate{};
  };
  return zlu_runner::run_on_model_card(RUNNER, no_scenario, [](std::monostate, zlu_card::Card& card) {
    return run_attention(card, encoder_shapes());
  });
}
