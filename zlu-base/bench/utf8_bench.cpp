// Throughput of UTF-8 validation on profile-like texts: long ASCII runs, and
// texts where every few bytes start a multi-byte character.
#include <benchmark/benchmark.h>

#include <string>

#include "zlu-base/src/utf8.hpp"

namespace {

std::string text_of(std::size_t size, std::string_view unit) {
  std::string text;
  text.reserve(size + unit.size());
  while (text.size() < size) text += unit;
  return text;
}

void validate(benchmark::State& state, std::string_view unit) {
  const std::string text = text_of(1 << 20, unit);
  for (auto _ : state) {
    auto result = zlu_base::validate_utf8(text);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void repair(benchmark::State& state, std::string_view unit) {
  const std::string text = text_of(1 << 20, unit);
  for (auto _ : state) {
    std::string repaired = zlu_base::decode_utf8_lossy(text);
    benchmark::DoNotOptimize(repaired);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

BENCHMARK_CAPTURE(validate, ascii, std::string_view("gemm.block mac_block round=12 "));
BENCHMARK_CAPTURE(validate, mixed, std::string_view("tile \xC3\xA9t\xC3\xA9 \xE2\x82\xAC "));
BENCHMARK_CAPTURE(repair, ascii, std::string_view("gemm.block mac_block round=12 "));

}  // namespace

BENCHMARK_MAIN();
