// Time of the GEMM runner's work in-process: the default 128 run with its
// profile written, and the profile encoding on its own.
#include <filesystem>

#include <benchmark/benchmark.h>

#include "gemm_card.hpp"
#include "profile_writer.hpp"

namespace {

void BM_GemmWithProfile(benchmark::State& state) {
  const std::filesystem::path profile =
      std::filesystem::temp_directory_path() / ("zlu-gemm-bench-" + std::to_string(::getpid()) + ".capnp");
  zlu_gemm::GemmConfig config;
  config.dimension = static_cast<std::uint32_t>(state.range(0));
  config.check_block = {1, 1};
  config.profile_output = profile;
  for (auto _ : state) {
    zlu_card::Card card;
    zlu_runner::HostWriteJitter jitter({});
    auto outcome = zlu_gemm::run_gemm(card, config, jitter);
    if (!outcome) state.SkipWithError(outcome.error().message.c_str());
    benchmark::DoNotOptimize(outcome);
  }
  state.counters["profile_bytes"] = static_cast<double>(std::filesystem::file_size(profile));
  std::filesystem::remove(profile);
}
BENCHMARK(BM_GemmWithProfile)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_EncodeProfile(benchmark::State& state) {
  zlu_card::Card card;
  zlu_runner::HostWriteJitter jitter({});
  if (!zlu_gemm::run_gemm(card, zlu_gemm::GemmConfig{}, jitter)) state.SkipWithError("GEMM run failed");
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto encoded = zlu_card::encode_profile(card);
    bytes = encoded ? encoded->size() : 0;
    benchmark::DoNotOptimize(encoded);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
}
BENCHMARK(BM_EncodeProfile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
