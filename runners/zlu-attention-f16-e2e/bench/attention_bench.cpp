// Time of the FlashAttention runner's work in-process: every encoder shape,
// and each shape on its own with its share of kernel and reference.
#include <benchmark/benchmark.h>

#include "attention_card.hpp"

namespace {

void BM_AllEncoderShapes(benchmark::State& state) {
  for (auto _ : state) {
    zlu_card::Card card;
    auto outcome = zlu_attention::run_attention(card, zlu_attention::encoder_shapes());
    if (!outcome) state.SkipWithError(outcome.error().message.c_str());
    benchmark::DoNotOptimize(outcome);
  }
}
BENCHMARK(BM_AllEncoderShapes)->Unit(benchmark::kMillisecond);

void BM_OneShape(benchmark::State& state) {
  const zlu_attention::AttentionShape shape = zlu_attention::encoder_shapes()[static_cast<std::size_t>(state.range(0))];
  state.SetLabel(shape.name());
  for (auto _ : state) {
    zlu_card::Card card;
    auto result = zlu_attention::run_shape(card, shape, 0, zlu_attention::flash_block_update);
    if (!result) state.SkipWithError(result.error().message.c_str());
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_OneShape)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

void BM_Reference(benchmark::State& state) {
  const zlu_attention::AttentionShape shape{2, 128, 128};
  const auto inputs = zlu_attention::make_inputs(shape, 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(zlu_attention::reference_attention(shape, inputs.queries, inputs.keys, inputs.values));
  }
}
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
