// Times the tool's views on a large card-wide profile. With
// "--write-profile PATH [SUPERSTEPS]" it writes that profile instead, for
// timing the tool itself.
#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <ostream>
#include <string>

#include "profile_builder.hpp"
#include "summary.hpp"
#include "svg.hpp"
#include "trace.hpp"

namespace {

constexpr std::uint32_t LARGE_SUPERSTEPS = 100;

// Counts bytes and throws them away, so the benchmarks time rendering only.
class CountingBuffer : public std::streambuf {
public:
  std::size_t bytes = 0;

protected:
  std::streamsize xsputn(const char*, std::streamsize count) override {
    bytes += static_cast<std::size_t>(count);
    return count;
  }
  int_type overflow(int_type c) override {
    ++bytes;
    return c;
  }
};

const zlu_package::ProfileReport& large_profile() {
  static const zlu_package::ProfileReport report = zlu_profile::testing::decode(
      zlu_profile::testing::card_profile(LARGE_SUPERSTEPS));
  return report;
}

void set_counters(benchmark::State& state, std::size_t bytes) {
  std::uint64_t samples = 0;
  for (const auto& tile : large_profile().tiles) {
    samples += tile.samples.size();
  }
  state.counters["samples"] = static_cast<double>(samples);
  state.counters["output_bytes"] = static_cast<double>(bytes);
}

void BM_Summary(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto summary = zlu_profile::summarize(large_profile(), 3, "large");
    bytes = zlu_profile::render_summary(summary).size();
    benchmark::DoNotOptimize(bytes);
  }
  set_counters(state, bytes);
}
BENCHMARK(BM_Summary)->Unit(benchmark::kMillisecond);

using Writer = void (*)(const zlu_package::ProfileReport&, std::ostream&);

void BM_Render(benchmark::State& state, Writer write) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    CountingBuffer buffer;
    std::ostream out(&buffer);
    write(large_profile(), out);
    bytes = buffer.bytes;
  }
  set_counters(state, bytes);
}
BENCHMARK_CAPTURE(BM_Render, svg, [](const zlu_package::ProfileReport& profile, std::ostream& out) {
  zlu_profile::write_svg(profile, "large", out);
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Render, trace, &zlu_profile::write_trace)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--write-profile") == 0) {
    const std::uint32_t supersteps = argc >= 4 ? static_cast<std::uint32_t>(std::stoul(argv[3])) : LARGE_SUPERSTEPS;
    zlu_profile::testing::write_profile(zlu_profile::testing::card_profile(supersteps), argv[2]);
    std::cout << "wrote " << argv[2] << ": 1472 tiles, " << 1472u * 4u * supersteps << " samples\n";
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  // Built before timing starts, so no benchmark pays for it.
  large_profile();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
